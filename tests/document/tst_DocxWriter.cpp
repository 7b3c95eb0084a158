#include <QtTest>

#include <QCryptographicHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>

#include "Codec.h"
#include "DocumentContent.h"
#include "DocxParts.h"
#include "DocxWriter.h"
#include "DocxXml.h"
#include "TestPng.h"
#include "ZipEntries.h"

namespace {

const QString pythonPath = QStringLiteral("/usr/bin/python3");

QString gbkThroughField(const QString &text, qsizetype size)
{
    QByteArray field(size, '\0');
    Codec::toField(text, field.data(), size);
    return Codec::fromField(field.constData(), size);
}

struct Run
{
    int exitCode = -1;
    QByteArray output;
};

Run runTool(const QString &program, const QStringList &arguments, int timeoutMs = 180000)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::SeparateChannels);
    process.start(program, arguments);
    if (!process.waitForStarted() || !process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished();
        return {};
    }
    const QByteArray errors = process.readAllStandardError();
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        qWarning("%s failed: %s", qPrintable(program), errors.constData());
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            process.readAllStandardOutput()};
}

QStringList texts(const QJsonArray &paragraphs)
{
    QStringList list;
    for (const QJsonValue &paragraph : paragraphs)
        list.append(paragraph.toObject().value(QStringLiteral("text")).toString());
    return list;
}

} // namespace

class tst_DocxWriter : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void packageHoldsEveryPart();
    void refusesContentWithoutPicture();
    void pythonDocxReadsContent_data();
    void pythonDocxReadsContent();
    void libreOfficeConverts_data();
    void libreOfficeConverts();

private:
    QByteArray writeDocument(const DocumentContent &content, const QString &name);
    QString convertWithLibreOffice(const QString &docx, const QString &format);

    QTemporaryDir m_dir;
    QByteArray m_png;
    QString m_soffice;
};

void tst_DocxWriter::initTestCase()
{
    QVERIFY(m_dir.isValid());
    m_png = TestPng::make(794, 1123);
    m_soffice = QStandardPaths::findExecutable(QStringLiteral("soffice"));
}

QByteArray tst_DocxWriter::writeDocument(const DocumentContent &content, const QString &name)
{
    QString error;
    const QByteArray bytes = DocxWriter::build(content, &error);
    if (bytes.isEmpty()) {
        qWarning("build failed: %s", qPrintable(error));
        return {};
    }
    QFile file(m_dir.filePath(name));
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        return {};
    return bytes;
}

void tst_DocxWriter::packageHoldsEveryPart()
{
    DocumentContent content{
        QStringLiteral("Title"), QStringLiteral("Head"), QStringLiteral("Foot"), m_png, 794, 1123};
    QString error;
    const QByteArray bytes = DocxWriter::build(content, &error);
    QVERIFY2(!bytes.isEmpty(), qPrintable(error));

    const QMap<QString, QByteArray> entries = zipEntries(bytes);
    const QStringList expected{QStringLiteral("[Content_Types].xml"),
                               QStringLiteral("_rels/.rels"),
                               QStringLiteral("docProps/app.xml"),
                               QStringLiteral("docProps/core.xml"),
                               QStringLiteral("word/_rels/document.xml.rels"),
                               QStringLiteral("word/document.xml"),
                               QStringLiteral("word/footer1.xml"),
                               QStringLiteral("word/header1.xml"),
                               QStringLiteral("word/media/image1.png"),
                               QStringLiteral("word/styles.xml")};
    QCOMPARE(entries.keys(), expected);
    QCOMPARE(entries.value(QStringLiteral("word/media/image1.png")), m_png);
    for (auto it = entries.cbegin(); it != entries.cend(); ++it)
        if (it.key().endsWith(QStringLiteral(".xml")) || it.key().endsWith(QStringLiteral(".rels")))
            QVERIFY2(DocxXml::wellFormedError(it.value()).isEmpty(), qPrintable(it.key()));

    // Every XML part is declared with its own type; the picture through the png default.
    const QByteArray types = entries.value(QStringLiteral("[Content_Types].xml"));
    for (const char *part : {"/word/document.xml", "/word/styles.xml", "/word/header1.xml",
                             "/word/footer1.xml", "/docProps/core.xml", "/docProps/app.xml"})
        QVERIFY2(types.contains(QByteArray("PartName=\"") + part + '"'), part);
    QVERIFY(types.contains("Extension=\"png\" ContentType=\"image/png\""));

    // The picture the body points at is the embedded media part (an internal relationship).
    const QByteArray rels = entries.value(QStringLiteral("word/_rels/document.xml.rels"));
    const QList<DocxXml::Paragraph> body =
        DocxXml::paragraphs(entries.value(QStringLiteral("word/document.xml")));
    QCOMPARE(body.size(), 2);
    const QString pictureId = body.last().pictureIds.value(0);
    QVERIFY(
        rels.contains(QStringLiteral("Id=\"%1\" Type=\"http://schemas.openxmlformats.org/officeDocument/2006/"
                                     "relationships/image\" Target=\"media/image1.png\"")
                          .arg(pictureId)
                          .toUtf8()));
    QVERIFY(!rels.contains("TargetMode=\"External\""));
}

void tst_DocxWriter::refusesContentWithoutPicture()
{
    QString error;
    QVERIFY(DocxWriter::build(DocumentContent{QStringLiteral("T"), {}, {}, {}, 0, 0}, &error).isEmpty());
    QVERIFY(!error.isEmpty());
}

void tst_DocxWriter::pythonDocxReadsContent_data()
{
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("header");
    QTest::addColumn<QString>("footer");
    QTest::addColumn<QStringList>("headerLines");
    QTest::addColumn<QStringList>("footerLines");
    QTest::addColumn<QStringList>("titleLines");

    QTest::newRow("ascii") << QStringLiteral("Battery Test Report") << QStringLiteral("Kestrel Garage")
                           << QStringLiteral("Page footer") << QStringList{QStringLiteral("Kestrel Garage")}
                           << QStringList{QStringLiteral("Page footer")}
                           << QStringList{QStringLiteral("Battery Test Report")};
    const QString chineseTitle = QStringLiteral(u"蓄电池检测报告");
    const QString chineseHeader = QStringLiteral(u"某某汽车服务有限公司\r\n电话：010-12345678");
    QTest::newRow("gbk chinese, multi-line header")
        << gbkThroughField(chineseTitle, 200) << gbkThroughField(chineseHeader, 1024)
        << gbkThroughField(QStringLiteral(u"第一页 <&> \"end\""), 1024)
        << QStringList{QStringLiteral(u"某某汽车服务有限公司"), QStringLiteral(u"电话：010-12345678")}
        << QStringList{QStringLiteral(u"第一页 <&> \"end\"")} << QStringList{chineseTitle};
    QTest::newRow("empty texts") << QString() << QString() << QString() << QStringList{QString()}
                                 << QStringList{QString()} << QStringList{QString()};
    const QString longHeader(1023, QLatin1Char('H'));
    QTest::newRow("1023-byte header")
        << QStringLiteral("T") << gbkThroughField(longHeader + QStringLiteral("cut"), 1024)
        << QStringLiteral("F") << QStringList{longHeader} << QStringList{QStringLiteral("F")}
        << QStringList{QStringLiteral("T")};
}

void tst_DocxWriter::pythonDocxReadsContent()
{
    QFETCH(QString, title);
    QFETCH(QString, header);
    QFETCH(QString, footer);
    QFETCH(QStringList, headerLines);
    QFETCH(QStringList, footerLines);
    QFETCH(QStringList, titleLines);
    if (!QFileInfo::exists(pythonPath) ||
        runTool(pythonPath, {QStringLiteral("-c"), QStringLiteral("import docx")}).exitCode != 0)
        QSKIP("python3-docx is not installed (apt-get install python3-docx)");

    const QString name = QStringLiteral("%1.docx").arg(
        QString::fromLatin1(QTest::currentDataTag()).replace(QLatin1Char(' '), QLatin1Char('_')));
    QVERIFY(!writeDocument({title, header, footer, m_png, 794, 1123}, name).isEmpty());
    const Run run = runTool(pythonPath, {QStringLiteral(DOCX_CHECK_SCRIPT), m_dir.filePath(name)});
    QCOMPARE(run.exitCode, 0);
    QJsonParseError parseError;
    const QJsonObject facts = QJsonDocument::fromJson(run.output, &parseError).object();
    QCOMPARE(parseError.error, QJsonParseError::NoError);

    QCOMPARE(texts(facts.value(QStringLiteral("header")).toArray()), headerLines);
    QCOMPARE(texts(facts.value(QStringLiteral("footer")).toArray()), footerLines);
    const QJsonArray body = facts.value(QStringLiteral("body")).toArray();
    QCOMPARE(body.size(), titleLines.size() + 1);
    QCOMPARE(texts(body).mid(0, titleLines.size()), titleLines);

    const auto checkParagraphs = [](const QJsonArray &paragraphs, double points) {
        for (const QJsonValue &value : paragraphs) {
            const QJsonObject paragraph = value.toObject();
            QCOMPARE(paragraph.value(QStringLiteral("alignment")).toInt(-1), 1); // centre
            for (const QJsonValue &size : paragraph.value(QStringLiteral("sizes")).toArray())
                QCOMPARE(size.toDouble(), points);
            for (const QJsonValue &colour : paragraph.value(QStringLiteral("colours")).toArray())
                QCOMPARE(colour.toString(), QStringLiteral("000000"));
        }
    };
    checkParagraphs(facts.value(QStringLiteral("header")).toArray(), 9.0);
    checkParagraphs(facts.value(QStringLiteral("footer")).toArray(), 9.0);
    checkParagraphs(body, 14.0);

    const QJsonArray pictures = facts.value(QStringLiteral("pictures")).toArray();
    QCOMPARE(pictures.size(), 1);
    const QJsonObject picture = pictures.first().toObject();
    QCOMPARE(picture.value(QStringLiteral("linked")).toBool(true), false);
    QCOMPARE(picture.value(QStringLiteral("sha256")).toString(),
             QString::fromLatin1(QCryptographicHash::hash(m_png, QCryptographicHash::Sha256).toHex()));
    const qint64 textWidth = facts.value(QStringLiteral("textWidth")).toInteger();
    QCOMPARE(picture.value(QStringLiteral("width")).toInteger(), textWidth);
    // The page layout sizes the picture in whole twips (635 EMU), keeping its aspect ratio.
    const qint64 height = picture.value(QStringLiteral("height")).toInteger();
    QVERIFY2(qAbs(height - textWidth * 1123.0 / 794.0) <= 635, qPrintable(QString::number(height)));
    // A4 in EMU.
    QCOMPARE(facts.value(QStringLiteral("pageWidth")).toInteger(), 11906LL * 635);
    QCOMPARE(facts.value(QStringLiteral("pageHeight")).toInteger(), 16838LL * 635);
    QCOMPARE(facts.value(QStringLiteral("coreTitle")).toString(), titleLines.join(QLatin1Char(' ')));
}

QString tst_DocxWriter::convertWithLibreOffice(const QString &docx, const QString &format)
{
    const QString outDir = m_dir.filePath(QStringLiteral("out-") + format);
    QDir().mkpath(outDir);
    // A profile of our own, so that parallel runs do not fight over the user's.
    const QString profile = QUrl::fromLocalFile(m_dir.filePath(QStringLiteral("lo-profile"))).toString();
    const Run run = runTool(m_soffice, {QStringLiteral("-env:UserInstallation=") + profile,
                                        QStringLiteral("--headless"), QStringLiteral("--convert-to"), format,
                                        QStringLiteral("--outdir"), outDir, docx});
    if (run.exitCode != 0)
        return {};
    const QString converted =
        outDir + QLatin1Char('/') + QFileInfo(docx).completeBaseName() + QLatin1Char('.') + format;
    return QFileInfo::exists(converted) ? converted : QString();
}

void tst_DocxWriter::libreOfficeConverts_data()
{
    QTest::addColumn<QString>("format");
    QTest::newRow("odt") << QStringLiteral("odt");
    QTest::newRow("html") << QStringLiteral("html");
    QTest::newRow("pdf") << QStringLiteral("pdf");
}

void tst_DocxWriter::libreOfficeConverts()
{
    QFETCH(QString, format);
    if (m_soffice.isEmpty())
        QSKIP("LibreOffice is not installed (apt-get install libreoffice-writer-nogui)");

    const QString title = QStringLiteral(u"Battery Report 蓄电池");
    const QString header = QStringLiteral("Kestrel Header One\nKestrel Header Two");
    const QString footer = QStringLiteral("Kestrel Footer & <Co>");
    const QString docx = m_dir.filePath(QStringLiteral("lo-") + format + QStringLiteral(".docx"));
    QVERIFY(!writeDocument({title, header, footer, m_png, 794, 1123}, QFileInfo(docx).fileName()).isEmpty());
    const QString converted = convertWithLibreOffice(docx, format);
    QVERIFY2(!converted.isEmpty(), "LibreOffice did not convert the document");

    if (format == QLatin1String("odt")) {
        QFile file(converted);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QMap<QString, QByteArray> entries = zipEntries(file.readAll());
        const QByteArray content = entries.value(QStringLiteral("content.xml"));
        const QByteArray styles = entries.value(QStringLiteral("styles.xml"));
        QVERIFY(content.contains(title.toUtf8()));
        QVERIFY(styles.contains("Kestrel Header One") && styles.contains("Kestrel Header Two"));
        QVERIFY(styles.contains("Kestrel Footer &amp; &lt;Co&gt;"));
        QVERIFY(content.contains("<draw:image"));
        bool hasPicture = false;
        for (auto it = entries.cbegin(); it != entries.cend(); ++it)
            hasPicture =
                hasPicture || (it.key().startsWith(QStringLiteral("Pictures/")) && it.value().size() > 100);
        QVERIFY(hasPicture);
    } else if (format == QLatin1String("html")) {
        QFile file(converted);
        QVERIFY(file.open(QIODevice::ReadOnly));
        // The HTML filter wraps long lines; compare with whitespace collapsed.
        const QByteArray html = QString::fromUtf8(file.readAll()).simplified().toUtf8();
        QVERIFY(html.contains("Battery Report"));
        QVERIFY(html.contains(QStringLiteral(u"蓄电池").toUtf8()));
        QVERIFY(html.contains("Kestrel Header One") && html.contains("Kestrel Header Two"));
        QVERIFY(html.contains("Kestrel Footer &amp; &lt;Co&gt;"));
        QVERIFY(html.contains("<img"));
    } else {
        QFile file(converted);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QVERIFY(file.readAll().startsWith("%PDF"));
        const QString pdftotext = QStandardPaths::findExecutable(QStringLiteral("pdftotext"));
        if (pdftotext.isEmpty())
            QSKIP("poppler-utils is not installed (apt-get install poppler-utils)");
        const Run run = runTool(pdftotext, {QStringLiteral("-layout"), converted, QStringLiteral("-")});
        QCOMPARE(run.exitCode, 0);
        QVERIFY(run.output.contains("Battery Report"));
        QVERIFY(run.output.contains("Kestrel Header One") && run.output.contains("Kestrel Footer & <Co>"));
        const Run info = runTool(QStandardPaths::findExecutable(QStringLiteral("pdfinfo")), {converted});
        QVERIFY(info.output.contains("Pages:           1"));
    }
}

QTEST_GUILESS_MAIN(tst_DocxWriter)
#include "tst_DocxWriter.moc"
