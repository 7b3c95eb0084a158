#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <QXmlStreamReader>

// Reads WordprocessingML back for the tests: the paragraphs of a part with the properties the
// documents must carry, using the namespaces (not the prefixes) as a word processor does.
namespace DocxXml {

inline const QString w = QStringLiteral("http://schemas.openxmlformats.org/wordprocessingml/2006/main");
inline const QString r =
    QStringLiteral("http://schemas.openxmlformats.org/officeDocument/2006/relationships");
inline const QString a = QStringLiteral("http://schemas.openxmlformats.org/drawingml/2006/main");
inline const QString wp =
    QStringLiteral("http://schemas.openxmlformats.org/drawingml/2006/wordprocessingDrawing");

struct Paragraph
{
    QString alignment;      // w:pPr/w:jc
    QStringList runSizes;   // w:r/w:rPr/w:sz of each text run
    QStringList runColours; // w:r/w:rPr/w:color of each text run
    QString text;
    QStringList pictureIds; // a:blip r:embed
    qint64 extentWidth = 0; // wp:extent
    qint64 extentHeight = 0;
};

// Empty string when well-formed, else the parser's message with its position.
inline QString wellFormedError(const QByteArray &xml)
{
    QXmlStreamReader reader(xml);
    while (!reader.atEnd())
        reader.readNext();
    if (!reader.hasError())
        return {};
    return QStringLiteral("%1 at %2:%3")
        .arg(reader.errorString())
        .arg(reader.lineNumber())
        .arg(reader.columnNumber());
}

inline QList<Paragraph> paragraphs(const QByteArray &xml)
{
    QList<Paragraph> list;
    QXmlStreamReader reader(xml);
    bool inRun = false;
    bool inRunProperties = false;
    while (!reader.atEnd()) {
        reader.readNext();
        const QStringView ns = reader.namespaceUri();
        const QStringView name = reader.name();
        if (reader.isStartElement()) {
            if (ns == w && name == u"p") {
                list.append(Paragraph{});
            } else if (list.isEmpty()) {
                continue;
            } else if (ns == w && name == u"jc") {
                list.last().alignment = reader.attributes().value(w, QStringLiteral("val")).toString();
            } else if (ns == w && name == u"r") {
                inRun = true;
            } else if (ns == w && name == u"rPr" && inRun) {
                inRunProperties = true;
            } else if (ns == w && name == u"sz" && inRunProperties) {
                list.last().runSizes.append(reader.attributes().value(w, QStringLiteral("val")).toString());
            } else if (ns == w && name == u"color" && inRunProperties) {
                list.last().runColours.append(reader.attributes().value(w, QStringLiteral("val")).toString());
            } else if (ns == w && name == u"t") {
                list.last().text += reader.readElementText();
            } else if (ns == a && name == u"blip") {
                list.last().pictureIds.append(
                    reader.attributes().value(r, QStringLiteral("embed")).toString());
            } else if (ns == wp && name == u"extent") {
                list.last().extentWidth = reader.attributes().value(QStringLiteral("cx")).toLongLong();
                list.last().extentHeight = reader.attributes().value(QStringLiteral("cy")).toLongLong();
            }
        } else if (reader.isEndElement()) {
            if (ns == w && name == u"r")
                inRun = false;
            else if (ns == w && name == u"rPr")
                inRunProperties = false;
        }
    }
    return list;
}

// Attribute values of every element with the given namespace and name.
inline QStringList attributeValues(const QByteArray &xml, const QString &ns, const QString &element,
                                   const QString &attributeNs, const QString &attribute)
{
    QStringList values;
    QXmlStreamReader reader(xml);
    while (!reader.atEnd()) {
        reader.readNext();
        if (reader.isStartElement() && reader.namespaceUri() == ns && reader.name() == element)
            values.append(attributeNs.isEmpty()
                              ? reader.attributes().value(attribute).toString()
                              : reader.attributes().value(attributeNs, attribute).toString());
    }
    return values;
}

} // namespace DocxXml
