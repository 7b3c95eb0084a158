#include "DocxParts.h"

#include <algorithm>

#include <QXmlStreamWriter>

namespace DocxParts {

namespace {

const QString wNs = QStringLiteral("http://schemas.openxmlformats.org/wordprocessingml/2006/main");
const QString rNs = QStringLiteral("http://schemas.openxmlformats.org/officeDocument/2006/relationships");
const QString wpNs = QStringLiteral("http://schemas.openxmlformats.org/drawingml/2006/wordprocessingDrawing");
const QString aNs = QStringLiteral("http://schemas.openxmlformats.org/drawingml/2006/main");
const QString picNs = QStringLiteral("http://schemas.openxmlformats.org/drawingml/2006/picture");

constexpr std::int64_t emuPerTwip = 635;

// A writer bound to a byte array, compact, with the standalone declaration every part carries.
class PartWriter
{
public:
    PartWriter() : xml(&bytes) { xml.writeStartDocument(QStringLiteral("1.0"), true); }
    QByteArray finish()
    {
        xml.writeEndDocument();
        return bytes;
    }

    QByteArray bytes;
    QXmlStreamWriter xml;
};

void writeVal(QXmlStreamWriter &xml, const QString &element, const QString &value)
{
    xml.writeEmptyElement(wNs, element);
    xml.writeAttribute(wNs, QStringLiteral("val"), value);
}

// Black text of the given size, for the paragraph mark and for each run.
void writeRunProperties(QXmlStreamWriter &xml, int halfPoints)
{
    xml.writeStartElement(wNs, QStringLiteral("rPr"));
    writeVal(xml, QStringLiteral("color"), QStringLiteral("000000"));
    writeVal(xml, QStringLiteral("sz"), QString::number(halfPoints));
    writeVal(xml, QStringLiteral("szCs"), QString::number(halfPoints));
    xml.writeEndElement();
}

// A line height of 0 leaves the paragraph's lines as tall as what they hold (the picture).
void writeCentredParagraphStart(QXmlStreamWriter &xml, int halfPoints, int exactLine)
{
    xml.writeStartElement(wNs, QStringLiteral("p"));
    xml.writeStartElement(wNs, QStringLiteral("pPr"));
    xml.writeEmptyElement(wNs, QStringLiteral("spacing"));
    xml.writeAttribute(wNs, QStringLiteral("before"), QStringLiteral("0"));
    xml.writeAttribute(wNs, QStringLiteral("after"), QStringLiteral("0"));
    if (exactLine > 0) {
        xml.writeAttribute(wNs, QStringLiteral("line"), QString::number(exactLine));
        xml.writeAttribute(wNs, QStringLiteral("lineRule"), QStringLiteral("exact"));
    }
    writeVal(xml, QStringLiteral("jc"), QStringLiteral("center"));
    writeRunProperties(xml, halfPoints);
    xml.writeEndElement();
}

// One centred paragraph per line of text; an empty line still gets its paragraph so that the
// operator's blank lines survive.
void writeCentredLines(QXmlStreamWriter &xml, QStringView text, int halfPoints, int exactLine)
{
    for (const QString &line : PageLayout::lines(text)) {
        writeCentredParagraphStart(xml, halfPoints, exactLine);
        const QString safe = xmlSafe(line);
        if (!safe.isEmpty()) {
            xml.writeStartElement(wNs, QStringLiteral("r"));
            writeRunProperties(xml, halfPoints);
            xml.writeStartElement(wNs, QStringLiteral("t"));
            xml.writeAttribute(QStringLiteral("xml:space"), QStringLiteral("preserve"));
            xml.writeCharacters(safe);
            xml.writeEndElement();
            xml.writeEndElement();
        }
        xml.writeEndElement();
    }
}

QByteArray headerOrFooter(const QString &root, QStringView text)
{
    PartWriter part;
    QXmlStreamWriter &xml = part.xml;
    xml.writeNamespace(wNs, QStringLiteral("w"));
    xml.writeNamespace(rNs, QStringLiteral("r"));
    xml.writeStartElement(wNs, root);
    writeCentredLines(xml, text, headerFooterHalfPoints, PageLayout::headerFooterLine);
    xml.writeEndElement();
    return part.finish();
}

void writeInlinePicture(QXmlStreamWriter &xml, const QString &pictureId, const PictureExtent &extent)
{
    const QString cx = QString::number(extent.width);
    const QString cy = QString::number(extent.height);
    xml.writeStartElement(wNs, QStringLiteral("drawing"));
    xml.writeStartElement(wpNs, QStringLiteral("inline"));
    for (const char *distance : {"distT", "distB", "distL", "distR"})
        xml.writeAttribute(QString::fromLatin1(distance), QStringLiteral("0"));
    xml.writeEmptyElement(wpNs, QStringLiteral("extent"));
    xml.writeAttribute(QStringLiteral("cx"), cx);
    xml.writeAttribute(QStringLiteral("cy"), cy);
    xml.writeEmptyElement(wpNs, QStringLiteral("effectExtent"));
    for (const char *side : {"l", "t", "r", "b"})
        xml.writeAttribute(QString::fromLatin1(side), QStringLiteral("0"));
    xml.writeEmptyElement(wpNs, QStringLiteral("docPr"));
    xml.writeAttribute(QStringLiteral("id"), QStringLiteral("1"));
    xml.writeAttribute(QStringLiteral("name"), QStringLiteral("Picture 1"));
    xml.writeStartElement(wpNs, QStringLiteral("cNvGraphicFramePr"));
    xml.writeEmptyElement(aNs, QStringLiteral("graphicFrameLocks"));
    xml.writeAttribute(QStringLiteral("noChangeAspect"), QStringLiteral("1"));
    xml.writeEndElement();

    xml.writeStartElement(aNs, QStringLiteral("graphic"));
    xml.writeStartElement(aNs, QStringLiteral("graphicData"));
    xml.writeAttribute(QStringLiteral("uri"), picNs);
    xml.writeStartElement(picNs, QStringLiteral("pic"));
    xml.writeStartElement(picNs, QStringLiteral("nvPicPr"));
    xml.writeEmptyElement(picNs, QStringLiteral("cNvPr"));
    xml.writeAttribute(QStringLiteral("id"), QStringLiteral("0"));
    xml.writeAttribute(QStringLiteral("name"), QStringLiteral("image1.png"));
    xml.writeEmptyElement(picNs, QStringLiteral("cNvPicPr"));
    xml.writeEndElement(); // nvPicPr
    xml.writeStartElement(picNs, QStringLiteral("blipFill"));
    xml.writeEmptyElement(aNs, QStringLiteral("blip"));
    xml.writeAttribute(rNs, QStringLiteral("embed"), pictureId);
    xml.writeStartElement(aNs, QStringLiteral("stretch"));
    xml.writeEmptyElement(aNs, QStringLiteral("fillRect"));
    xml.writeEndElement();
    xml.writeEndElement(); // blipFill
    xml.writeStartElement(picNs, QStringLiteral("spPr"));
    xml.writeStartElement(aNs, QStringLiteral("xfrm"));
    xml.writeEmptyElement(aNs, QStringLiteral("off"));
    xml.writeAttribute(QStringLiteral("x"), QStringLiteral("0"));
    xml.writeAttribute(QStringLiteral("y"), QStringLiteral("0"));
    xml.writeEmptyElement(aNs, QStringLiteral("ext"));
    xml.writeAttribute(QStringLiteral("cx"), cx);
    xml.writeAttribute(QStringLiteral("cy"), cy);
    xml.writeEndElement(); // xfrm
    xml.writeStartElement(aNs, QStringLiteral("prstGeom"));
    xml.writeAttribute(QStringLiteral("prst"), QStringLiteral("rect"));
    xml.writeEmptyElement(aNs, QStringLiteral("avLst"));
    xml.writeEndElement();
    xml.writeEndElement(); // spPr
    xml.writeEndElement(); // pic
    xml.writeEndElement(); // graphicData
    xml.writeEndElement(); // graphic
    xml.writeEndElement(); // inline
    xml.writeEndElement(); // drawing
}

} // namespace

PictureExtent extentOf(const PageLayout::Geometry &page)
{
    return {std::int64_t(page.picture.width()) * emuPerTwip,
            std::int64_t(page.picture.height()) * emuPerTwip};
}

QString xmlSafe(QStringView text)
{
    QString safe;
    safe.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar ch = text[i];
        const char16_t code = ch.unicode();
        if (ch.isHighSurrogate()) {
            if (i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
                safe.append(ch);
                safe.append(text[++i]);
            }
            continue;
        }
        if (ch.isLowSurrogate() || code == 0xFFFE || code == 0xFFFF)
            continue;
        if (code < 0x20 && code != u'\t' && code != u'\n' && code != u'\r')
            continue;
        safe.append(ch);
    }
    return safe;
}

QByteArray contentTypes(const std::vector<ContentType> &defaults, const std::vector<ContentType> &overrides)
{
    const QString ns = QStringLiteral("http://schemas.openxmlformats.org/package/2006/content-types");
    PartWriter part;
    QXmlStreamWriter &xml = part.xml;
    xml.writeDefaultNamespace(ns);
    xml.writeStartElement(ns, QStringLiteral("Types"));
    for (const ContentType &entry : defaults) {
        xml.writeEmptyElement(ns, QStringLiteral("Default"));
        xml.writeAttribute(QStringLiteral("Extension"), entry.key);
        xml.writeAttribute(QStringLiteral("ContentType"), entry.contentType);
    }
    for (const ContentType &entry : overrides) {
        xml.writeEmptyElement(ns, QStringLiteral("Override"));
        xml.writeAttribute(QStringLiteral("PartName"), entry.key);
        xml.writeAttribute(QStringLiteral("ContentType"), entry.contentType);
    }
    xml.writeEndElement();
    return part.finish();
}

QByteArray relationships(const std::vector<Relationship> &relationships)
{
    const QString ns = QStringLiteral("http://schemas.openxmlformats.org/package/2006/relationships");
    PartWriter part;
    QXmlStreamWriter &xml = part.xml;
    xml.writeDefaultNamespace(ns);
    xml.writeStartElement(ns, QStringLiteral("Relationships"));
    for (const Relationship &entry : relationships) {
        xml.writeEmptyElement(ns, QStringLiteral("Relationship"));
        xml.writeAttribute(QStringLiteral("Id"), entry.id);
        xml.writeAttribute(QStringLiteral("Type"), entry.type);
        xml.writeAttribute(QStringLiteral("Target"), entry.target);
    }
    xml.writeEndElement();
    return part.finish();
}

QByteArray document(QStringView title, const DocumentReferences &references, const PageLayout::Geometry &page)
{
    PartWriter part;
    QXmlStreamWriter &xml = part.xml;
    xml.writeNamespace(wNs, QStringLiteral("w"));
    xml.writeNamespace(rNs, QStringLiteral("r"));
    xml.writeNamespace(wpNs, QStringLiteral("wp"));
    xml.writeNamespace(aNs, QStringLiteral("a"));
    xml.writeNamespace(picNs, QStringLiteral("pic"));
    xml.writeStartElement(wNs, QStringLiteral("document"));
    xml.writeStartElement(wNs, QStringLiteral("body"));

    writeCentredLines(xml, title, titleHalfPoints, PageLayout::titleLine);

    // The picture paragraph keeps the title's centring and size, as typing a new paragraph would.
    writeCentredParagraphStart(xml, titleHalfPoints, 0);
    xml.writeStartElement(wNs, QStringLiteral("r"));
    writeInlinePicture(xml, references.pictureId, extentOf(page));
    xml.writeEndElement();
    xml.writeEndElement();

    xml.writeStartElement(wNs, QStringLiteral("sectPr"));
    xml.writeEmptyElement(wNs, QStringLiteral("headerReference"));
    xml.writeAttribute(wNs, QStringLiteral("type"), QStringLiteral("default"));
    xml.writeAttribute(rNs, QStringLiteral("id"), references.headerId);
    xml.writeEmptyElement(wNs, QStringLiteral("footerReference"));
    xml.writeAttribute(wNs, QStringLiteral("type"), QStringLiteral("default"));
    xml.writeAttribute(rNs, QStringLiteral("id"), references.footerId);
    xml.writeEmptyElement(wNs, QStringLiteral("pgSz"));
    xml.writeAttribute(wNs, QStringLiteral("w"), QString::number(PageLayout::pageWidth));
    xml.writeAttribute(wNs, QStringLiteral("h"), QString::number(PageLayout::pageHeight));
    xml.writeEmptyElement(wNs, QStringLiteral("pgMar"));
    xml.writeAttribute(wNs, QStringLiteral("top"), QString::number(page.marginTop));
    xml.writeAttribute(wNs, QStringLiteral("right"), QString::number(PageLayout::marginRight));
    xml.writeAttribute(wNs, QStringLiteral("bottom"), QString::number(page.marginBottom));
    xml.writeAttribute(wNs, QStringLiteral("left"), QString::number(PageLayout::marginLeft));
    xml.writeAttribute(wNs, QStringLiteral("header"), QString::number(PageLayout::headerDistance));
    xml.writeAttribute(wNs, QStringLiteral("footer"), QString::number(PageLayout::footerDistance));
    xml.writeAttribute(wNs, QStringLiteral("gutter"), QStringLiteral("0"));
    xml.writeEndElement(); // sectPr

    xml.writeEndElement(); // body
    xml.writeEndElement(); // document
    return part.finish();
}

QByteArray header(QStringView text)
{
    return headerOrFooter(QStringLiteral("hdr"), text);
}

QByteArray footer(QStringView text)
{
    return headerOrFooter(QStringLiteral("ftr"), text);
}

QByteArray styles()
{
    PartWriter part;
    QXmlStreamWriter &xml = part.xml;
    xml.writeNamespace(wNs, QStringLiteral("w"));
    xml.writeStartElement(wNs, QStringLiteral("styles"));
    xml.writeStartElement(wNs, QStringLiteral("docDefaults"));
    xml.writeStartElement(wNs, QStringLiteral("rPrDefault"));
    xml.writeStartElement(wNs, QStringLiteral("rPr"));
    xml.writeEmptyElement(wNs, QStringLiteral("rFonts"));
    const QString family = QString::fromUtf16(PageLayout::fontFamily);
    xml.writeAttribute(wNs, QStringLiteral("ascii"), family);
    xml.writeAttribute(wNs, QStringLiteral("hAnsi"), family);
    xml.writeAttribute(wNs, QStringLiteral("eastAsia"), QStringLiteral("SimSun"));
    xml.writeAttribute(wNs, QStringLiteral("cs"), family);
    writeVal(xml, QStringLiteral("sz"), QStringLiteral("21"));
    writeVal(xml, QStringLiteral("szCs"), QStringLiteral("21"));
    xml.writeEmptyElement(wNs, QStringLiteral("lang"));
    xml.writeAttribute(wNs, QStringLiteral("val"), QStringLiteral("en-US"));
    xml.writeAttribute(wNs, QStringLiteral("eastAsia"), QStringLiteral("zh-CN"));
    xml.writeEndElement(); // rPr
    xml.writeEndElement(); // rPrDefault
    xml.writeEmptyElement(wNs, QStringLiteral("pPrDefault"));
    xml.writeEndElement(); // docDefaults

    xml.writeStartElement(wNs, QStringLiteral("style"));
    xml.writeAttribute(wNs, QStringLiteral("type"), QStringLiteral("paragraph"));
    xml.writeAttribute(wNs, QStringLiteral("default"), QStringLiteral("1"));
    xml.writeAttribute(wNs, QStringLiteral("styleId"), QStringLiteral("Normal"));
    writeVal(xml, QStringLiteral("name"), QStringLiteral("Normal"));
    xml.writeEmptyElement(wNs, QStringLiteral("qFormat"));
    xml.writeEndElement();
    xml.writeEndElement(); // styles
    return part.finish();
}

QByteArray coreProperties(QStringView title, const QDateTime &createdUtc)
{
    const QString cpNs =
        QStringLiteral("http://schemas.openxmlformats.org/package/2006/metadata/core-properties");
    const QString dcNs = QStringLiteral("http://purl.org/dc/elements/1.1/");
    const QString dctermsNs = QStringLiteral("http://purl.org/dc/terms/");
    const QString xsiNs = QStringLiteral("http://www.w3.org/2001/XMLSchema-instance");
    const QString stamp = createdUtc.toUTC().toString(Qt::ISODate);

    PartWriter part;
    QXmlStreamWriter &xml = part.xml;
    xml.writeNamespace(cpNs, QStringLiteral("cp"));
    xml.writeNamespace(dcNs, QStringLiteral("dc"));
    xml.writeNamespace(dctermsNs, QStringLiteral("dcterms"));
    xml.writeNamespace(xsiNs, QStringLiteral("xsi"));
    xml.writeStartElement(cpNs, QStringLiteral("coreProperties"));
    // A property is one line: line breaks of the title become spaces.
    xml.writeTextElement(dcNs, QStringLiteral("title"),
                         xmlSafe(PageLayout::lines(title).join(QLatin1Char(' '))));
    xml.writeTextElement(dcNs, QStringLiteral("creator"), QStringLiteral("quillet"));
    for (const char *name : {"created", "modified"}) {
        xml.writeStartElement(dctermsNs, QString::fromLatin1(name));
        xml.writeAttribute(xsiNs, QStringLiteral("type"), QStringLiteral("dcterms:W3CDTF"));
        xml.writeCharacters(stamp);
        xml.writeEndElement();
    }
    xml.writeEndElement();
    return part.finish();
}

QByteArray appProperties()
{
    const QString ns =
        QStringLiteral("http://schemas.openxmlformats.org/officeDocument/2006/extended-properties");
    PartWriter part;
    QXmlStreamWriter &xml = part.xml;
    xml.writeDefaultNamespace(ns);
    xml.writeStartElement(ns, QStringLiteral("Properties"));
    xml.writeTextElement(ns, QStringLiteral("Application"), QStringLiteral("quillet"));
    xml.writeEndElement();
    return part.finish();
}

} // namespace DocxParts
