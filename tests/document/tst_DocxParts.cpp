#include <QtTest>

#include "Codec.h"
#include "DocxPackage.h"
#include "DocxParts.h"
#include "DocxXml.h"
#include "HelperProtocol.h"
#include "PngHeader.h"
#include "TestPng.h"

using DocxXml::Paragraph;

namespace {

// A text as kestrel delivers it: GBK bytes in a fixed field, decoded on arrival.
QString throughField(const QString &text, qsizetype fieldSize)
{
    QByteArray field(fieldSize, '\0');
    Codec::toField(text, field.data(), fieldSize);
    return Codec::fromField(field.constData(), fieldSize);
}

QByteArray pngWith(qsizetype offset, char value)
{
    QByteArray png = TestPng::make(40, 30);
    png[offset] = value;
    return png;
}

} // namespace

class tst_DocxParts : public QObject
{
    Q_OBJECT

private slots:
    void headerFooterLines_data();
    void headerFooterLines();
    void documentBody_data();
    void documentBody();
    void partsAreWellFormed_data();
    void partsAreWellFormed();
    void xmlSafe_data();
    void xmlSafe();
    void pngHeader_data();
    void pngHeader();
    void packageRecordsTypesAndRelationships();
};

void tst_DocxParts::headerFooterLines_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("expected");

    const QString chinese = QStringLiteral(u"蓄电池检测报告 第一页");
    QTest::newRow("plain") << QStringLiteral("Kestrel Service")
                           << QStringList{QStringLiteral("Kestrel Service")};
    QTest::newRow("empty") << QString() << QStringList{QString()};
    QTest::newRow("gbk chinese through field") << throughField(chinese, 1024) << QStringList{chinese};
    QTest::newRow("crlf lines") << QStringLiteral("Line one\r\nLine two\r\n\r\nLine four")
                                << QStringList{QStringLiteral("Line one"), QStringLiteral("Line two"),
                                               QString(), QStringLiteral("Line four")};
    QTest::newRow("lf and cr lines") << QStringLiteral("a\nb\rc")
                                     << QStringList{QStringLiteral("a"), QStringLiteral("b"),
                                                    QStringLiteral("c")};
    QTest::newRow("xml specials") << QStringLiteral("<b>R&D</b> \"quoted\" 'single' ]]>")
                                  << QStringList{QStringLiteral("<b>R&D</b> \"quoted\" 'single' ]]>")};
    QTest::newRow("controls dropped")
        << QStringLiteral("bell\aback\bspace\x01") << QStringList{QStringLiteral("bellbackspace")};
    QTest::newRow("leading and trailing spaces kept")
        << QStringLiteral("  centred  ") << QStringList{QStringLiteral("  centred  ")};
}

void tst_DocxParts::headerFooterLines()
{
    QFETCH(QString, text);
    QFETCH(QStringList, expected);

    for (const QByteArray &xml : {DocxParts::header(text), DocxParts::footer(text)}) {
        QCOMPARE(DocxXml::wellFormedError(xml), QString());
        const QList<Paragraph> list = DocxXml::paragraphs(xml);
        QCOMPARE(list.size(), expected.size());
        for (qsizetype i = 0; i < list.size(); ++i) {
            QCOMPARE(list[i].text, expected[i]);
            QCOMPARE(list[i].alignment, QStringLiteral("center"));
            if (!expected[i].isEmpty()) {
                QCOMPARE(list[i].runSizes, QStringList{QStringLiteral("18")});
                QCOMPARE(list[i].runColours, QStringList{QStringLiteral("000000")});
            }
        }
    }
}

void tst_DocxParts::documentBody_data()
{
    QTest::addColumn<QString>("title");
    QTest::addColumn<QStringList>("expectedTitle");

    QTest::newRow("ascii") << QStringLiteral("Battery Test Report")
                           << QStringList{QStringLiteral("Battery Test Report")};
    QTest::newRow("empty") << QString() << QStringList{QString()};
    QTest::newRow("gbk chinese through field") << throughField(QStringLiteral(u"汽车电气系统测试报告"), 200)
                                               << QStringList{QStringLiteral(u"汽车电气系统测试报告")};
    QTest::newRow("xml specials") << QStringLiteral("A&B <report>")
                                  << QStringList{QStringLiteral("A&B <report>")};
}

void tst_DocxParts::documentBody()
{
    QFETCH(QString, title);
    QFETCH(QStringList, expectedTitle);

    const PageLayout::Geometry page = PageLayout::compose(title, QString(), QString(), 794, 1123);
    const DocxParts::PictureExtent extent = DocxParts::extentOf(page);
    QCOMPARE(extent.width, qint64(page.picture.width()) * 635);
    const QByteArray xml = DocxParts::document(
        title, {QStringLiteral("rId2"), QStringLiteral("rId3"), QStringLiteral("rId4")}, page);
    QCOMPARE(DocxXml::wellFormedError(xml), QString());

    const QList<Paragraph> list = DocxXml::paragraphs(xml);
    QCOMPARE(list.size(), expectedTitle.size() + 1);
    for (qsizetype i = 0; i < expectedTitle.size(); ++i) {
        QCOMPARE(list[i].text, expectedTitle[i]);
        QCOMPARE(list[i].alignment, QStringLiteral("center"));
        QVERIFY(list[i].pictureIds.isEmpty());
        if (!expectedTitle[i].isEmpty()) {
            QCOMPARE(list[i].runSizes, QStringList{QStringLiteral("28")});
            QCOMPARE(list[i].runColours, QStringList{QStringLiteral("000000")});
        }
    }
    const Paragraph &picture = list.last();
    QCOMPARE(picture.alignment, QStringLiteral("center"));
    QCOMPARE(picture.pictureIds, QStringList{QStringLiteral("rId4")});
    QCOMPARE(picture.extentWidth, extent.width);
    QCOMPARE(picture.extentHeight, extent.height);
    QVERIFY(picture.text.isEmpty());

    // Inline, not anchored: the picture flows with the text.
    QVERIFY(xml.contains("<wp:inline"));
    QVERIFY(!xml.contains("anchor"));
    QCOMPARE(DocxXml::attributeValues(xml, DocxXml::w, QStringLiteral("headerReference"), DocxXml::r,
                                      QStringLiteral("id")),
             QStringList{QStringLiteral("rId2")});
    QCOMPARE(DocxXml::attributeValues(xml, DocxXml::w, QStringLiteral("footerReference"), DocxXml::r,
                                      QStringLiteral("id")),
             QStringList{QStringLiteral("rId3")});
    QCOMPARE(
        DocxXml::attributeValues(xml, DocxXml::w, QStringLiteral("pgSz"), DocxXml::w, QStringLiteral("w")),
        QStringList{QStringLiteral("11906")});
    QCOMPARE(
        DocxXml::attributeValues(xml, DocxXml::w, QStringLiteral("pgSz"), DocxXml::w, QStringLiteral("h")),
        QStringList{QStringLiteral("16838")});
}

void tst_DocxParts::partsAreWellFormed_data()
{
    QTest::addColumn<QByteArray>("xml");
    QTest::addColumn<QByteArray>("mustContain");

    const QString nasty = QStringLiteral("<&>\"' \x0b\x1f") + QChar(0xD800) + QStringLiteral("end");
    const QDateTime created(QDate(2026, 3, 4), QTime(5, 6, 7), Qt::UTC);
    QTest::newRow("content types")
        << DocxParts::contentTypes({{QStringLiteral("png"), QStringLiteral("image/png")}},
                                   {{QStringLiteral("/word/document.xml"), QStringLiteral("x/y+xml")}})
        << QByteArray("<Override PartName=\"/word/document.xml\" ContentType=\"x/y+xml\"/>");
    QTest::newRow("relationships") << DocxParts::relationships(
                                          {{QStringLiteral("rId1"), QStringLiteral("t&ype"),
                                            QStringLiteral("a.xml")}})
                                   << QByteArray("Id=\"rId1\" Type=\"t&amp;ype\" Target=\"a.xml\"");
    QTest::newRow("styles") << DocxParts::styles() << QByteArray("w:eastAsia=\"SimSun\"");
    QTest::newRow("core properties") << DocxParts::coreProperties(nasty, created)
                                     << QByteArray("<dc:title>&lt;&amp;&gt;&quot;' end</dc:title>");
    QTest::newRow("core properties multi-line title")
        << DocxParts::coreProperties(QStringLiteral("Report\r\nPage"), created)
        << QByteArray("<dc:title>Report Page</dc:title>");
    QTest::newRow("core created stamp") << DocxParts::coreProperties(QString(), created)
                                        << QByteArray("<dcterms:created xsi:type=\"dcterms:W3CDTF\">"
                                                      "2026-03-04T05:06:07Z</dcterms:created>");
    QTest::newRow("app properties") << DocxParts::appProperties()
                                    << QByteArray("<Application>quillet</Application>");
    QTest::newRow("header with nasty text") << DocxParts::header(nasty) << QByteArray("&lt;&amp;&gt;");
}

void tst_DocxParts::partsAreWellFormed()
{
    QFETCH(QByteArray, xml);
    QFETCH(QByteArray, mustContain);
    QVERIFY(xml.startsWith("<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>"));
    QCOMPARE(DocxXml::wellFormedError(xml), QString());
    QVERIFY2(xml.contains(mustContain), xml.constData());
}

void tst_DocxParts::xmlSafe_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");

    const QString emoji = QString::fromUcs4(U"\U0001F50B");
    QTest::newRow("tab and line ends kept") << QStringLiteral("a\tb\nc\rd") << QStringLiteral("a\tb\nc\rd");
    QTest::newRow("c0 controls dropped") << QStringLiteral("\x01x\x08y\x1f") << QStringLiteral("xy");
    QTest::newRow("nul dropped") << QString(QStringLiteral("a") + QChar(0) + QStringLiteral("b"))
                                 << QStringLiteral("ab");
    QTest::newRow("lone high surrogate dropped")
        << QString(QChar(0xD83D) + QStringLiteral("x")) << QStringLiteral("x");
    QTest::newRow("lone low surrogate dropped")
        << QString(QStringLiteral("x") + QChar(0xDC00)) << QStringLiteral("x");
    QTest::newRow("pair kept") << emoji << emoji;
    QTest::newRow("non-characters dropped")
        << QString(QChar(0xFFFE) + QStringLiteral("ok") + QChar(0xFFFF)) << QStringLiteral("ok");
    QTest::newRow("chinese kept") << QStringLiteral(u"电池") << QStringLiteral(u"电池");
}

void tst_DocxParts::xmlSafe()
{
    QFETCH(QString, text);
    QFETCH(QString, expected);
    QCOMPARE(DocxParts::xmlSafe(text), expected);
}

void tst_DocxParts::pngHeader_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("status");
    QTest::addColumn<uint>("width");
    QTest::addColumn<uint>("height");

    using Status = PngHeader::Status;
    const QByteArray valid = TestPng::make(794, 1123);
    QTest::newRow("report picture") << valid << int(Status::Valid) << 794u << 1123u;
    QTest::newRow("empty") << QByteArray() << int(Status::NotPng) << 0u << 0u;
    QTest::newRow("jpeg") << QByteArray("\xFF\xD8\xFF\xE0\x00\x10JFIF", 10) << int(Status::NotPng) << 0u
                          << 0u;
    QTest::newRow("text file") << QByteArray("not a picture at all, just text\n") << int(Status::NotPng) << 0u
                               << 0u;
    QTest::newRow("signature only") << valid.left(8) << int(Status::Truncated) << 0u << 0u;
    QTest::newRow("cut before the end")
        << valid.left(valid.size() - 100) << int(Status::Truncated) << 0u << 0u;
    QTest::newRow("first chunk not IHDR") << pngWith(12, 'X') << int(Status::NotPng) << 0u << 0u;
    QTest::newRow("zero width") <<
        [] {
            QByteArray png = TestPng::make(40, 30);
            png[16] = png[17] = png[18] = png[19] = 0;
            return png;
        }() << int(Status::NotPng)
                                << 0u << 0u;
    QTest::newRow("impossible bit depth") << pngWith(24, 3) << int(Status::NotPng) << 0u << 0u;
}

void tst_DocxParts::pngHeader()
{
    QFETCH(QByteArray, bytes);
    QFETCH(int, status);
    QFETCH(uint, width);
    QFETCH(uint, height);
    const PngHeader header = PngHeader::read(bytes);
    QCOMPARE(int(header.status), status);
    QCOMPARE(header.width, width);
    QCOMPARE(header.height, height);
}

void tst_DocxParts::packageRecordsTypesAndRelationships()
{
    DocxPackage package;
    package.addDefault(QStringLiteral("png"), QStringLiteral("image/png"));
    package.addDefault(QStringLiteral("PNG"), QStringLiteral("image/other")); // first one stays
    QCOMPARE(package.addRelationship(QStringLiteral("/"), QStringLiteral("t1"),
                                     QStringLiteral("word/document.xml")),
             QStringLiteral("rId1"));
    QCOMPARE(package.addRelationship(QStringLiteral("/word/document.xml"), QStringLiteral("t2"),
                                     QStringLiteral("styles.xml")),
             QStringLiteral("rId1"));
    QCOMPARE(package.addRelationship(QStringLiteral("/word/document.xml"), QStringLiteral("t3"),
                                     QStringLiteral("media/image1.png")),
             QStringLiteral("rId2"));
    package.addPart(QStringLiteral("/word/document.xml"), QStringLiteral("doc+xml"), "<x/>");
    package.addPart(QStringLiteral("/word/media/image1.png"), QString(), "png", false);

    QCOMPARE(DocxPackage::relationshipsPartName(QStringLiteral("/")), QStringLiteral("/_rels/.rels"));
    QCOMPARE(DocxPackage::relationshipsPartName(QStringLiteral("/word/document.xml")),
             QStringLiteral("/word/_rels/document.xml.rels"));

    const QByteArray types = package.contentTypesXml();
    QCOMPARE(DocxXml::attributeValues(
                 types, QStringLiteral("http://schemas.openxmlformats.org/package/2006/content-types"),
                 QStringLiteral("Default"), QString(), QStringLiteral("ContentType")),
             QStringList{QStringLiteral("image/png")});
    QCOMPARE(DocxXml::attributeValues(
                 types, QStringLiteral("http://schemas.openxmlformats.org/package/2006/content-types"),
                 QStringLiteral("Override"), QString(), QStringLiteral("PartName")),
             QStringList{QStringLiteral("/word/document.xml")});

    const QString relNs = QStringLiteral("http://schemas.openxmlformats.org/package/2006/relationships");
    const QByteArray documentRels = package.relationshipsXml(QStringLiteral("/word/document.xml"));
    QCOMPARE(DocxXml::attributeValues(documentRels, relNs, QStringLiteral("Relationship"), QString(),
                                      QStringLiteral("Target")),
             (QStringList{QStringLiteral("styles.xml"), QStringLiteral("media/image1.png")}));
    QCOMPARE(DocxXml::attributeValues(documentRels, relNs, QStringLiteral("Relationship"), QString(),
                                      QStringLiteral("Type")),
             (QStringList{QStringLiteral("t2"), QStringLiteral("t3")}));

    QString error;
    const QByteArray zip = package.zip(&error);
    QVERIFY2(!zip.isEmpty(), qPrintable(error));
    QVERIFY(zip.startsWith("PK\x03\x04"));
    // The content types come first, as readers that stream the archive expect.
    QCOMPARE(zip.mid(30, 19), QByteArray("[Content_Types].xml"));
}

QTEST_GUILESS_MAIN(tst_DocxParts)
#include "tst_DocxParts.moc"
