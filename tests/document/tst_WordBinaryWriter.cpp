#include "WordBinaryParts.h"
#include "WordBinaryPicture.h"
#include "WordBinaryWriter.h"
#include "TestPython.h"

#include <QBuffer>
#include <QCryptographicHash>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPainter>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

namespace {

// The documents every reader is shown: written once, converted once, checked row by row.
struct DocumentCase
{
    QString tag;
    QString title;
    QString header;
    QString footer;
    QSize picture;
};

const QList<DocumentCase> &documentCases()
{
    static const QList<DocumentCase> cases{
        {QStringLiteral("ascii"), QStringLiteral("Battery Test Report"),
         QStringLiteral("Kestrel Auto Service\r\nTel. 555-0100"), QStringLiteral("Tested by: J. Smith"),
         QSize(794, 1123)},
        {QStringLiteral("chinese"), QStringLiteral("蓄电池检测报告 喆"),
         QStringLiteral("深圳市某某汽车维修有限公司\n地址：科技园路１号"),
         QStringLiteral("检测员：张三　日期：2024年5月1日"), QSize(794, 1123)},
        {QStringLiteral("no_header_footer"), QStringLiteral("Report"), QString(), QString(),
         QSize(794, 1123)},
        {QStringLiteral("footer_only"), QStringLiteral("Report"), QString(), QStringLiteral("Only a footer"),
         QSize(794, 1123)},
        {QStringLiteral("tall_picture"), QStringLiteral("Tall"), QStringLiteral("H"), QStringLiteral("F"),
         QSize(300, 1500)},
        {QStringLiteral("control_characters"),
         QStringLiteral("A\tB\x01"
                        "C\x13"
                        "D"),
         QStringLiteral("one\rtwo\nthree"), QStringLiteral("x\x07y"), QSize(794, 1123)},
    };
    return cases;
}

// What a reader shows of a text: Word line breaks as "\n", other control characters as spaces.
QString shownText(const QString &text)
{
    QString shown = WordBinary::wordText(text);
    shown.replace(QChar(0x000B), u'\n');
    return shown;
}

QString squeezed(QString text)
{
    static const QRegularExpression space(QStringLiteral("\\s"),
                                          QRegularExpression::UseUnicodePropertiesOption);
    return text.remove(space);
}

QByteArray reportPng(QSize size)
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    painter.fillRect(QRect(QPoint(0, 0), size / 4), Qt::red);
    painter.fillRect(QRect(QPoint(size.width() / 2, size.height() / 2), size / 3), Qt::blue);
    painter.end();
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return png;
}

DocumentContent contentFor(const DocumentCase &documentCase)
{
    DocumentContent content;
    content.title = documentCase.title;
    content.header = documentCase.header;
    content.footer = documentCase.footer;
    content.png = reportPng(documentCase.picture);
    content.pixelWidth = std::uint32_t(documentCase.picture.width());
    content.pixelHeight = std::uint32_t(documentCase.picture.height());
    return content;
}

struct RunResult
{
    bool finished = false;
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

RunResult run(const QString &program, const QStringList &arguments, int timeoutMs = 120000)
{
    QProcess process;
    process.start(program, arguments);
    RunResult result;
    result.finished = process.waitForFinished(timeoutMs);
    if (!result.finished)
        process.kill();
    process.waitForFinished(5000);
    result.exitCode = process.exitCode();
    result.out = process.readAllStandardOutput();
    result.err = process.readAllStandardError();
    return result;
}

QString script(const char *name)
{
    return QStringLiteral(QT_TESTCASE_SOURCEDIR "/") + QLatin1String(name);
}

constexpr double twipsPerInch = 1440.0;

} // namespace

class tst_WordBinaryWriter : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void formatRules_data() { documentRows(); }
    void formatRules();
    void containerReaders_data() { documentRows(); }
    void containerReaders();
    void libreOfficeLayout_data() { documentRows(); }
    void libreOfficeLayout();
    void libreOfficePdf_data() { documentRows(); }
    void libreOfficePdf();
    void textExtractors_data() { documentRows(); }
    void textExtractors();
    void rejectsBadContent_data();
    void rejectsBadContent();
    void wordText_data();
    void wordText();

private:
    void documentRows();
    QString docPath(const QString &tag) const { return m_dir.filePath(tag + QStringLiteral(".doc")); }
    QString convertedPath(const QString &tag, const char *suffix) const
    {
        return m_dir.filePath(QStringLiteral("converted/") + tag + QLatin1Char('.') + QLatin1String(suffix));
    }
    void convertAll(const char *format);

    QTemporaryDir m_dir;
    QTemporaryDir m_profile;
    QString m_soffice;
    QString m_python;
    QList<QByteArray> m_pngSha256;
};

void tst_WordBinaryWriter::documentRows()
{
    QTest::addColumn<int>("index");
    for (qsizetype i = 0; i < documentCases().size(); ++i)
        QTest::newRow(qPrintable(documentCases().at(i).tag)) << int(i);
}

void tst_WordBinaryWriter::initTestCase()
{
    QVERIFY(m_dir.isValid());
    QVERIFY(m_profile.isValid());
    if (qEnvironmentVariableIsSet("KESTREL_KEEP_DOCS"))
        m_dir.setAutoRemove(false);
    for (const DocumentCase &documentCase : documentCases()) {
        QString error;
        const DocumentContent content = contentFor(documentCase);
        m_pngSha256 << QCryptographicHash::hash(content.png, QCryptographicHash::Sha256).toHex();
        const QByteArray doc = WordBinaryWriter::build(content, &error);
        QVERIFY2(!doc.isEmpty(), qPrintable(documentCase.tag + QStringLiteral(": ") + error));
        QFile file(docPath(documentCase.tag));
        QVERIFY(file.open(QIODevice::WriteOnly));
        QCOMPARE(file.write(doc), doc.size());
    }
    m_python = findTestPython(false);
    m_soffice = QStandardPaths::findExecutable(QStringLiteral("soffice"));
    if (!m_soffice.isEmpty()) {
        convertAll("odt");
        convertAll("pdf");
    }
}

// One LibreOffice start converts every document; a private profile keeps it apart from others.
void tst_WordBinaryWriter::convertAll(const char *format)
{
    QStringList arguments{QStringLiteral("--headless"),
                          QStringLiteral("--norestore"),
                          QStringLiteral("-env:UserInstallation=") +
                              QUrl::fromLocalFile(m_profile.path()).toString(),
                          QStringLiteral("--convert-to"),
                          QLatin1String(format),
                          QStringLiteral("--outdir"),
                          m_dir.filePath(QStringLiteral("converted"))};
    for (const DocumentCase &documentCase : documentCases())
        arguments << docPath(documentCase.tag);
    const RunResult result = run(m_soffice, arguments, 240000);
    QVERIFY2(result.finished && result.exitCode == 0, result.err.constData());
}

// The format's own rules, read back by a checker written from the format description.
void tst_WordBinaryWriter::formatRules()
{
    QFETCH(int, index);
    const DocumentCase &documentCase = documentCases().at(index);
    if (m_python.isEmpty())
        QSKIP("python3 is not installed: the format checker cannot run");
    const RunResult result = run(m_python, {script("doc_check.py"), docPath(documentCase.tag)});
    const QJsonObject report = QJsonDocument::fromJson(result.out).object();
    QVERIFY2(result.finished && result.exitCode == 0, result.out.constData());
    QCOMPARE(report.value(QStringLiteral("main_text")).toString(),
             WordBinary::wordText(documentCase.title) + QStringLiteral("\r\x01\r"));
    const QJsonObject stories = report.value(QStringLiteral("header_stories")).toObject();
    QCOMPARE(stories.value(QStringLiteral("odd_header")).toString(),
             WordBinary::wordText(documentCase.header));
    QCOMPARE(stories.value(QStringLiteral("odd_footer")).toString(),
             WordBinary::wordText(documentCase.footer));
    for (const QString &other : {QStringLiteral("even_header"), QStringLiteral("even_footer"),
                                 QStringLiteral("first_header"), QStringLiteral("first_footer")})
        QCOMPARE(stories.value(other).toString(), QString());
    const QJsonObject sizes = report.value(QStringLiteral("sizes")).toObject();
    QCOMPARE(sizes.value(QStringLiteral("title")).toInt(), 28);
    if (!documentCase.header.isEmpty() || !documentCase.footer.isEmpty())
        QCOMPARE(sizes.value(QStringLiteral("header_footer")).toInt(), 18);
    QCOMPARE(report.value(QStringLiteral("centred_paragraphs")).toInt(),
             report.value(QStringLiteral("paragraphs")).toInt());
    QCOMPARE(report.value(QStringLiteral("picture_sha256")).toString().toLatin1(), m_pngSha256.at(index));
}

void tst_WordBinaryWriter::containerReaders()
{
    QFETCH(int, index);
    const DocumentCase &documentCase = documentCases().at(index);
    if (m_python.isEmpty())
        QSKIP("python3 is not installed: the container readers cannot run");
    const QStringList names{QStringLiteral("WordDocument"), QStringLiteral("1Table"), QStringLiteral("Data")};

    const RunResult walked =
        run(m_python, {script("cfb_check.py"), QStringLiteral("walk"), docPath(documentCase.tag)});
    QVERIFY2(walked.finished && walked.exitCode == 0, walked.out.constData());
    const QJsonObject walkedStreams =
        QJsonDocument::fromJson(walked.out).object().value(QStringLiteral("streams")).toObject();
    QCOMPARE(walkedStreams.keys().size(), names.size());
    for (const QString &name : names)
        QVERIFY2(walkedStreams.value(name).toInteger() > 0, qPrintable(name));
    // Readers such as antiword only take the document stream from regular sectors.
    QVERIFY(walkedStreams.value(QStringLiteral("WordDocument")).toInteger() >= 4096);

    const QString olePython = findTestPython(true);
    if (olePython.isEmpty())
        QSKIP("python3-olefile is not installed");
    const RunResult listed =
        run(olePython, {script("cfb_check.py"), QStringLiteral("olefile"), docPath(documentCase.tag)});
    QVERIFY2(listed.finished && listed.exitCode == 0, listed.err.constData());
    const QJsonObject listedStreams =
        QJsonDocument::fromJson(listed.out).object().value(QStringLiteral("streams")).toObject();
    qInfo().noquote() << documentCase.tag
                      << "streams:" << QJsonDocument(listedStreams).toJson(QJsonDocument::Compact);
    QCOMPARE(listedStreams, walkedStreams);
}

void tst_WordBinaryWriter::libreOfficeLayout()
{
    QFETCH(int, index);
    const DocumentCase &documentCase = documentCases().at(index);
    if (m_soffice.isEmpty())
        QSKIP("LibreOffice (soffice) is not installed: install libreoffice-writer-nogui");
    if (m_python.isEmpty())
        QSKIP("python3 is not installed: the ODT reader cannot run");
    const RunResult result = run(m_python, {script("odt_check.py"), convertedPath(documentCase.tag, "odt")});
    QVERIFY2(result.finished && result.exitCode == 0, result.err.constData());
    const QJsonObject odt = QJsonDocument::fromJson(result.out).object();

    const auto checkPart = [&odt](const char *part, const QString &expected) {
        const QJsonArray paragraphs = odt.value(QLatin1String(part)).toArray();
        QStringList texts;
        for (const QJsonValue &paragraph : paragraphs) {
            const QJsonObject p = paragraph.toObject();
            texts << p.value(QStringLiteral("text")).toString();
            QCOMPARE(p.value(QStringLiteral("size")).toString(), QStringLiteral("9pt"));
            QCOMPARE(p.value(QStringLiteral("align")).toString(), QStringLiteral("center"));
            QCOMPARE(p.value(QStringLiteral("color")).toString(), QStringLiteral("#000000"));
        }
        QCOMPARE(texts.join(u'\n'), shownText(expected));
    };
    checkPart("header", documentCase.header);
    if (QTest::currentTestFailed())
        return;
    checkPart("footer", documentCase.footer);
    if (QTest::currentTestFailed())
        return;

    const QJsonArray body = odt.value(QStringLiteral("body")).toArray();
    QCOMPARE(body.size(), 2);
    const QJsonObject title = body.at(0).toObject();
    QCOMPARE(title.value(QStringLiteral("text")).toString(), shownText(documentCase.title));
    QCOMPARE(title.value(QStringLiteral("size")).toString(), QStringLiteral("14pt"));
    QCOMPARE(title.value(QStringLiteral("align")).toString(), QStringLiteral("center"));
    QCOMPARE(title.value(QStringLiteral("color")).toString(), QStringLiteral("#000000"));
    const QJsonObject pictureParagraph = body.at(1).toObject();
    QCOMPARE(pictureParagraph.value(QStringLiteral("align")).toString(), QStringLiteral("center"));
    const QJsonArray frames = pictureParagraph.value(QStringLiteral("frames")).toArray();
    QCOMPARE(frames.size(), 1);
    const QJsonObject frame = frames.at(0).toObject();
    QCOMPARE(frame.value(QStringLiteral("anchor")).toString(), QStringLiteral("as-char"));

    // Embedded, not linked: the picture travels inside the document with its pixel size.
    const QString href = frame.value(QStringLiteral("href")).toString();
    QVERIFY2(href.startsWith(QStringLiteral("Pictures/")), qPrintable(href));
    const QJsonObject pictures = odt.value(QStringLiteral("pictures")).toObject();
    QCOMPARE(pictures.size(), 1);
    const QJsonArray pixels = pictures.value(href).toArray();
    QCOMPARE(pixels.size(), 2);
    QCOMPARE(pixels.at(0).toInt(), documentCase.picture.width());
    QCOMPARE(pixels.at(1).toInt(), documentCase.picture.height());

    // Scaled into the text area with the picture's aspect ratio.
    const double width = frame.value(QStringLiteral("width_in")).toDouble();
    const double height = frame.value(QStringLiteral("height_in")).toDouble();
    const double textWidth = PageLayout::textWidth / twipsPerInch;
    const double textHeight = (PageLayout::pageHeight - 2 * PageLayout::minimumMargin) / twipsPerInch;
    const double ratio = double(documentCase.picture.height()) / documentCase.picture.width();
    QVERIFY2(qAbs(height / width - ratio) < 0.005 * ratio,
             qPrintable(QStringLiteral("%1 x %2").arg(width).arg(height)));
    QVERIFY(width <= textWidth + 0.01);
    QVERIFY(height <= textHeight);
    if (ratio * textWidth < textHeight * 0.9)
        QVERIFY2(qAbs(width - textWidth) < 0.01, qPrintable(QString::number(width)));
}

void tst_WordBinaryWriter::libreOfficePdf()
{
    QFETCH(int, index);
    const DocumentCase &documentCase = documentCases().at(index);
    if (m_soffice.isEmpty())
        QSKIP("LibreOffice (soffice) is not installed: install libreoffice-writer-nogui");
    const QString pdfinfo = QStandardPaths::findExecutable(QStringLiteral("pdfinfo"));
    const QString pdftotext = QStandardPaths::findExecutable(QStringLiteral("pdftotext"));
    const QString pdftoppm = QStandardPaths::findExecutable(QStringLiteral("pdftoppm"));
    if (pdfinfo.isEmpty() || pdftotext.isEmpty() || pdftoppm.isEmpty())
        QSKIP("poppler-utils (pdfinfo, pdftotext, pdftoppm) is not installed");
    const QString pdf = convertedPath(documentCase.tag, "pdf");

    const RunResult info = run(pdfinfo, {pdf});
    QVERIFY2(info.finished && info.exitCode == 0, info.err.constData());
    QVERIFY2(
        QRegularExpression(QStringLiteral("Pages:\\s+1\\n")).match(QString::fromUtf8(info.out)).hasMatch(),
        info.out.constData());

    const RunResult text =
        run(pdftotext, {QStringLiteral("-enc"), QStringLiteral("UTF-8"), pdf, QStringLiteral("-")});
    QVERIFY(text.finished && text.exitCode == 0);
    const QString page = squeezed(QString::fromUtf8(text.out));
    for (const QString &expected : {documentCase.header, documentCase.title, documentCase.footer})
        QVERIFY2(page.contains(squeezed(shownText(expected))), qPrintable(page));

    // The rendered page: kept beside the PDF for a look when KESTREL_KEEP_DOCS is set.
    const QString imageBase = m_dir.filePath(QStringLiteral("converted/") + documentCase.tag);
    const RunResult rendered =
        run(pdftoppm, {QStringLiteral("-r"), QStringLiteral("40"), QStringLiteral("-png"),
                       QStringLiteral("-singlefile"), pdf, imageBase});
    QVERIFY(rendered.finished && rendered.exitCode == 0);
    QImage image(imageBase + QStringLiteral(".png"));
    QVERIFY(!image.isNull());
    // Red in the picture's top-left quarter shows the picture was drawn, not only its frame.
    bool sawRed = false;
    for (int y = 0; y < image.height() && !sawRed; y += 2) {
        for (int x = 0; x < image.width() && !sawRed; x += 2) {
            const QColor c = image.pixelColor(x, y);
            sawRed = c.red() > 200 && c.green() < 60 && c.blue() < 60;
        }
    }
    QVERIFY(sawRed);
}

void tst_WordBinaryWriter::textExtractors()
{
    QFETCH(int, index);
    const DocumentCase &documentCase = documentCases().at(index);
    const QString title = squeezed(shownText(documentCase.title));

    const QString antiword = QStandardPaths::findExecutable(QStringLiteral("antiword"));
    const QString catdoc = QStandardPaths::findExecutable(QStringLiteral("catdoc"));
    if (antiword.isEmpty() && catdoc.isEmpty())
        QSKIP("neither antiword nor catdoc is installed");
    if (!antiword.isEmpty()) {
        const RunResult result =
            run(antiword, {QStringLiteral("-m"), QStringLiteral("UTF-8.txt"), docPath(documentCase.tag)});
        QVERIFY2(result.finished && result.exitCode == 0, result.err.constData());
        QVERIFY2(squeezed(QString::fromUtf8(result.out)).contains(title), result.out.constData());
    }
    if (!catdoc.isEmpty()) {
        const RunResult result =
            run(catdoc, {QStringLiteral("-d"), QStringLiteral("utf-8"), docPath(documentCase.tag)});
        QVERIFY2(result.finished && result.exitCode == 0, result.err.constData());
        const QString text = squeezed(QString::fromUtf8(result.out));
        QVERIFY2(text.contains(title), result.out.constData());
        QVERIFY(text.contains(squeezed(shownText(documentCase.header))));
        QVERIFY(text.contains(squeezed(shownText(documentCase.footer))));
    }

    const QString wvText = QStandardPaths::findExecutable(QStringLiteral("wvText"));
    if (wvText.isEmpty())
        QSKIP("wvText is not installed: install wv");
    const QString textPath = m_dir.filePath(documentCase.tag + QStringLiteral(".wv.txt"));
    const RunResult result = run(wvText, {docPath(documentCase.tag), textPath});
    QVERIFY2(result.finished && result.exitCode == 0, result.err.constData());
    QFile textFile(textPath);
    QVERIFY(textFile.open(QIODevice::ReadOnly));
    QVERIFY(squeezed(QString::fromUtf8(textFile.readAll())).contains(title));
}

void tst_WordBinaryWriter::rejectsBadContent_data()
{
    QTest::addColumn<QByteArray>("png");
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("errorPart");
    const QByteArray good = reportPng(QSize(40, 60));
    QTest::newRow("no picture") << QByteArray() << 40 << 60 << QString() << QStringLiteral("empty");
    QTest::newRow("not a PNG") << QByteArray("GIF89a and some more bytes here") << 40 << 60 << QString()
                               << QStringLiteral("not a PNG");
    QTest::newRow("cut after the header")
        << good.left(60) << 40 << 60 << QString() << QStringLiteral("truncated");
    QByteArray zeroWidth = good;
    zeroWidth.replace(16, 4, QByteArray(4, '\0'));
    QTest::newRow("zero width") << zeroWidth << 0 << 60 << QString() << QStringLiteral("not a PNG");
    QTest::newRow("size disagrees") << good << 794 << 1123 << QString() << QStringLiteral("does not match");
    QTest::newRow("texts too long") << good << 40 << 60 << QString((1 << 24) + 1, u'x')
                                    << QStringLiteral("too long");
}

void tst_WordBinaryWriter::rejectsBadContent()
{
    QFETCH(QByteArray, png);
    QFETCH(int, width);
    QFETCH(int, height);
    QFETCH(QString, title);
    QFETCH(QString, errorPart);
    DocumentContent content;
    content.title = title;
    content.png = png;
    content.pixelWidth = std::uint32_t(width);
    content.pixelHeight = std::uint32_t(height);
    QString error;
    QVERIFY(WordBinaryWriter::build(content, &error).isEmpty());
    QVERIFY2(error.contains(errorPart), qPrintable(error));
}

void tst_WordBinaryWriter::wordText_data()
{
    QTest::addColumn<QString>("input");
    QTest::addColumn<QString>("expected");
    const QString lineBreak(QChar(0x000B));
    QTest::newRow("plain") << QStringLiteral("Report 1") << QStringLiteral("Report 1");
    QTest::newRow("CR LF") << QStringLiteral("a\r\nb")
                           << QStringLiteral("a") + lineBreak + QStringLiteral("b");
    QTest::newRow("LF and CR") << QStringLiteral("a\nb\rc")
                               << QStringLiteral("a") + lineBreak + QStringLiteral("b") + lineBreak +
                                      QStringLiteral("c");
    QTest::newRow("tab kept") << QStringLiteral("a\tb") << QStringLiteral("a\tb");
    QTest::newRow("picture and field marks") << QStringLiteral("a\x01"
                                                               "b\x13"
                                                               "c\x15")
                                             << QStringLiteral("a b c ");
    QTest::newRow("chinese") << QStringLiteral("蓄电池") << QStringLiteral("蓄电池");
}

void tst_WordBinaryWriter::wordText()
{
    QFETCH(QString, input);
    QFETCH(QString, expected);
    QCOMPARE(WordBinary::wordText(input), expected);
}

QTEST_MAIN(tst_WordBinaryWriter)
#include "tst_WordBinaryWriter.moc"
