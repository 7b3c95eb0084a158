// The four outputs of one report (kestrel's PDF, the printed page as PDF, the .docx and the .doc
// of the same export read back through LibreOffice) for a table of header and footer sizes: every
// text line is in each, each is one page, and side by side they show the same page.
#include <algorithm>
#include <cstring>
#include <memory>

#include <QDir>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QPixmap>
#include <QPrinter>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

#include "Codec.h"
#include "ConfigManager.h"
#include "DocxWriter.h"
#include "MainUI.h"
#include "PageLayout.h"
#include "PaintedPage.h"
#include "ReportPage.h"
#include "ReportText.h"
#include "UiTestEnvironment.h"
#include "WordBinaryWriter.h"

namespace {

struct Run
{
    bool finished = false;
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

Run run(const QString &program, const QStringList &arguments, int timeoutMs = 60000)
{
    QProcess process;
    process.start(program, arguments);
    Run result;
    result.finished = process.waitForFinished(timeoutMs);
    if (!result.finished)
        process.kill();
    result.exitCode = process.exitCode();
    result.out = process.readAllStandardOutput();
    result.err = process.readAllStandardError();
    return result;
}

// A line of repeated words as wide as the page font lets a header line be.
QString longestLine(const QString &words)
{
    QString line;
    for (int i = 0;; ++i) {
        const QString next = line + words.at(i % words.size());
        if (PaintedPage::lineWidth(next, PageLayout::headerFooterPoints) > PageLayout::maxLineWidth)
            return line;
        line = next;
    }
}

QString numberedLines(const QString &stem, int count)
{
    QStringList lines;
    for (int i = 1; i <= count; ++i)
        lines << QStringLiteral("%1 line %2").arg(stem).arg(i);
    return lines.join(QLatin1Char('\n'));
}

struct Case
{
    QString tag;
    QString header;
    QString footer;
};

QList<Case> cases()
{
    const int most = PageLayout::maxHeaderFooterLines();
    return {
        {QStringLiteral("none"), QString(), QString()},
        {QStringLiteral("one"), QStringLiteral("Kestrel Garage"), QStringLiteral("Thank you")},
        {QStringLiteral("six"), numberedLines(QStringLiteral("Head"), 6),
         numberedLines(QStringLiteral("Foot"), 6)},
        {QStringLiteral("most"), numberedLines(QStringLiteral("Head"), most),
         numberedLines(QStringLiteral("Foot"), most)},
        {QStringLiteral("long"),
         longestLine(QStringLiteral("Kestrel Garage Hangzhou Tel 0571 ")) + QStringLiteral("\n") +
             longestLine(QStringLiteral("汽车维修 ")),
         longestLine(QStringLiteral("Thank you for your visit ")) + QStringLiteral("\nEnd")},
    };
}

const QString title = QStringLiteral("Battery Test Report 蓄电池测试报告");

TestRecord record()
{
    TestRecord record = fullTestRecord();
    record.avg2K.voltage = 1262;
    record.registrationNoInfo = makeRegistrationNoInfo();
    const QByteArray plate = Codec::toBytes(QStringLiteral("浙A5K308"));
    std::memcpy(record.registrationNoInfo.registrationNo, plate.constData(), size_t(plate.size()));
    return record;
}

template <typename Message> void post(MainUI &window, const Message &message)
{
    QVERIFY(window.postMessage(&message, sizeof(message)));
}

// Grey levels after a 3 x 3 box blur: what is left of a difference once anti-aliasing and
// sub-pixel glyph placement are smoothed away.
QImage blurredGrey(const QImage &source)
{
    const QImage grey = source.convertToFormat(QImage::Format_Grayscale8);
    QImage out(grey.size(), QImage::Format_Grayscale8);
    for (int y = 0; y < grey.height(); ++y) {
        for (int x = 0; x < grey.width(); ++x) {
            int sum = 0;
            int count = 0;
            for (int dy = -1; dy <= 1; ++dy) {
                const int yy = y + dy;
                if (yy < 0 || yy >= grey.height())
                    continue;
                const uchar *line = grey.constScanLine(yy);
                for (int dx = -1; dx <= 1; ++dx) {
                    const int xx = x + dx;
                    if (xx < 0 || xx >= grey.width())
                        continue;
                    sum += line[xx];
                    ++count;
                }
            }
            out.scanLine(y)[x] = uchar(sum / count);
        }
    }
    return out;
}

// Share of pixels whose blurred grey levels differ by more than a third of the range.
double differingShare(const QImage &a, const QImage &b)
{
    if (a.size() != b.size())
        return 1.0;
    const QImage ga = blurredGrey(a);
    const QImage gb = blurredGrey(b);
    qint64 differing = 0;
    for (int y = 0; y < ga.height(); ++y) {
        const uchar *la = ga.constScanLine(y);
        const uchar *lb = gb.constScanLine(y);
        for (int x = 0; x < ga.width(); ++x)
            if (qAbs(int(la[x]) - int(lb[x])) > 85)
                ++differing;
    }
    return double(differing) / (double(ga.width()) * ga.height());
}

// The bound for "the same page": at most this share of differing pixels. Measured here: the .doc and
// .docx pages 0.13 to 0.17 % (LibreOffice stores the report picture as JPEG, scaled), the printed
// page 0 %; the same page moved down by 2 pixels 0.42 to 0.62 %, another header and footer 3 to 9 %.
constexpr double sameBound = 0.0025;

} // namespace

class tst_DocumentOutputs : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void everyLineOnOnePage_data();
    void everyLineOnOnePage();
    void sideBySide_data();
    void sideBySide();
    void pdfFacts();

private:
    QString path(const QString &tag, const QString &kind) const;
    QString text(const QString &pdf, bool layout = false);
    QImage rendering(const QString &pdf);

    std::unique_ptr<UiTestEnvironment> m_env;
    std::unique_ptr<MainUI> m_window;
    QTemporaryDir m_out;
    QTemporaryDir m_profile;
    QString m_soffice;
    QString m_pdftotext;
    QString m_pdftoppm;
    QString m_pdfinfo;
};

QString tst_DocumentOutputs::path(const QString &tag, const QString &kind) const
{
    // kind: pdf, print, doc, docx (LibreOffice's PDF of the latter two: <tag>-doc.pdf, <tag>-docx.pdf)
    if (kind == QStringLiteral("pdf"))
        return m_out.filePath(tag + QStringLiteral(".pdf"));
    if (kind == QStringLiteral("print"))
        return m_out.filePath(tag + QStringLiteral("-print.pdf"));
    return m_out.filePath(QStringLiteral("lo/") + tag + QStringLiteral("-") + kind + QStringLiteral(".pdf"));
}

void tst_DocumentOutputs::initTestCase()
{
    QVERIFY2(MainUI::installFonts(), "the report fonts need fonts-wqy-microhei and fonts-liberation2");
    m_soffice = QStandardPaths::findExecutable(QStringLiteral("soffice"));
    m_pdftotext = QStandardPaths::findExecutable(QStringLiteral("pdftotext"));
    m_pdftoppm = QStandardPaths::findExecutable(QStringLiteral("pdftoppm"));
    m_pdfinfo = QStandardPaths::findExecutable(QStringLiteral("pdfinfo"));
    if (m_soffice.isEmpty() || m_pdftotext.isEmpty() || m_pdftoppm.isEmpty() || m_pdfinfo.isEmpty())
        QSKIP("needs LibreOffice (soffice) and poppler-utils (pdftotext, pdftoppm, pdfinfo)");
    QVERIFY(m_out.isValid() && m_profile.isValid());
    // To look at the pages: KESTREL_KEEP_OUTPUTS=1 keeps them (PDFs and their 100-dpi PNGs).
    if (!qEnvironmentVariableIsEmpty("KESTREL_KEEP_OUTPUTS")) {
        m_out.setAutoRemove(false);
        qInfo("outputs kept in %s", qPrintable(m_out.path()));
    }

    m_env = std::make_unique<UiTestEnvironment>();
    QVERIFY(m_env->isReady());
    m_env->writePictures();
    m_window = std::make_unique<MainUI>();
    const TestRecord full = record();
    post(*m_window, full.testDate);
    post(*m_window, full.battery);
    post(*m_window, full.grounding);
    post(*m_window, full.starter);
    post(*m_window, full.charging3K);
    post(*m_window, full.charging2K);
    post(*m_window, full.avg2K);
    post(*m_window, full.registrationNoInfo);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::User);

    QStringList documents;
    for (const Case &c : cases()) {
        ConfigManager::instance()->setDocSetting({title, c.header, c.footer});
        QVERIFY2(m_window->exportPdf(path(c.tag, QStringLiteral("pdf"))).saved, qPrintable(c.tag));

        m_window->setPrintDialogRunner([&](QPrinter &printer, QWidget *) {
            printer.setOutputFormat(QPrinter::PdfFormat);
            printer.setOutputFileName(path(c.tag, QStringLiteral("print")));
            return true;
        });
        m_window->printerClicked();
        QVERIFY(QFile::exists(path(c.tag, QStringLiteral("print"))));

        // The documents of the same export, from the picture Save As writes.
        QPixmap page(ReportPage::pageSize);
        const QString picture = m_out.filePath(c.tag + QStringLiteral(".png"));
        m_window->renderReport(page, picture);
        QFile pictureFile(picture);
        QVERIFY(pictureFile.open(QIODevice::ReadOnly));
        DocumentContent content;
        content.title = title;
        content.header = c.header;
        content.footer = c.footer;
        content.png = pictureFile.readAll();
        content.pixelWidth = 794;
        content.pixelHeight = 1123;
        const std::pair<QString, QByteArray> built[] = {
            {QStringLiteral("docx"), DocxWriter::build(content, nullptr)},
            {QStringLiteral("doc"), WordBinaryWriter::build(content, nullptr)},
        };
        for (const auto &[suffix, bytes] : built) {
            QVERIFY(!bytes.isEmpty());
            const QString file =
                m_out.filePath(c.tag + QStringLiteral("-") + suffix + QStringLiteral(".") + suffix);
            QFile out(file);
            QVERIFY(out.open(QIODevice::WriteOnly));
            out.write(bytes);
            documents << file;
        }
    }
    // One LibreOffice run converts them all: it takes seconds to start.
    QStringList arguments{QStringLiteral("--headless"),
                          QStringLiteral("-env:UserInstallation=") +
                              QUrl::fromLocalFile(m_profile.path()).toString(),
                          QStringLiteral("--convert-to"),
                          QStringLiteral("pdf"),
                          QStringLiteral("--outdir"),
                          m_out.filePath(QStringLiteral("lo"))};
    const Run converted = run(m_soffice, arguments + documents, 300000);
    QVERIFY2(converted.finished && converted.exitCode == 0, converted.err.constData());
}

QString tst_DocumentOutputs::text(const QString &pdf, bool layout)
{
    QStringList arguments{pdf, QStringLiteral("-")};
    if (layout)
        arguments.prepend(QStringLiteral("-layout")); // lines as they stand on the page, cells side by side
    const Run result = run(m_pdftotext, arguments);
    return result.exitCode == 0 ? QString::fromUtf8(result.out) : QString();
}

QImage tst_DocumentOutputs::rendering(const QString &pdf)
{
    const QString stem = pdf + QStringLiteral("-100");
    run(m_pdftoppm, {QStringLiteral("-r"), QStringLiteral("100"), QStringLiteral("-png"),
                     QStringLiteral("-singlefile"), pdf, stem});
    return QImage(stem + QStringLiteral(".png"));
}

void tst_DocumentOutputs::everyLineOnOnePage_data()
{
    QTest::addColumn<QString>("tag");
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("header");
    QTest::addColumn<QString>("footer");
    for (const Case &c : cases())
        for (const char *kind : {"pdf", "print", "docx", "doc"})
            QTest::addRow("%s %s", qPrintable(c.tag), kind)
                << c.tag << QString::fromLatin1(kind) << c.header << c.footer;
}

void tst_DocumentOutputs::everyLineOnOnePage()
{
    QFETCH(QString, tag);
    QFETCH(QString, kind);
    QFETCH(QString, header);
    QFETCH(QString, footer);
    const QString pdf = path(tag, kind);
    const Run info = run(m_pdfinfo, {pdf});
    QVERIFY2(info.exitCode == 0, info.err.constData());
    QVERIFY2(QString::fromUtf8(info.out).contains(QRegularExpression(QStringLiteral("Pages:\\s+1\\n"))),
             info.out.constData());

    // pdftotext puts each page line on a line of its own; a line cut or wrapped would not match.
    const QStringList found = text(pdf).split(QLatin1Char('\n'));
    const auto has = [&found](const QString &line) {
        return std::any_of(found.begin(), found.end(),
                           [&line](const QString &f) { return f.simplified() == line.simplified(); });
    };
    QStringList expected{title};
    if (!header.isEmpty())
        expected << PageLayout::lines(header);
    if (!footer.isEmpty())
        expected << PageLayout::lines(footer);
    for (const QString &line : expected)
        QVERIFY2(line.isEmpty() || has(line), qPrintable(line + QStringLiteral(" in ") + found.join(u'|')));
}

void tst_DocumentOutputs::sideBySide_data()
{
    QTest::addColumn<QString>("tag");
    QTest::newRow("six") << QStringLiteral("six");
    QTest::newRow("long") << QStringLiteral("long");
}

void tst_DocumentOutputs::sideBySide()
{
    QFETCH(QString, tag);
    const QImage pdf = rendering(path(tag, QStringLiteral("pdf")));
    QCOMPARE(pdf.width(), 827); // A4 at 100 dpi
    for (const char *kind : {"print", "docx", "doc"}) {
        const double share = differingShare(pdf, rendering(path(tag, QString::fromLatin1(kind))));
        qInfo("%s: %s differs from the PDF in %.3f %% of its pixels", qPrintable(tag), kind, 100 * share);
        QVERIFY2(share <= sameBound, kind);
    }
    // The measure sees a real difference in layout: the same page moved down by 2 pixels (1.4 points),
    // and the page of another header and footer.
    QImage moved(pdf.size(), QImage::Format_RGB32);
    moved.fill(Qt::white);
    QPainter(&moved).drawImage(0, 2, pdf);
    const double shifted = differingShare(pdf, moved);
    const double other = differingShare(pdf, rendering(path(QStringLiteral("none"), QStringLiteral("docx"))));
    qInfo("%s: moved by 2 pixels %.3f %%, without header and footer %.3f %%", qPrintable(tag), 100 * shifted,
          100 * other);
    QVERIFY(shifted > sameBound);
    QVERIFY(other > 4 * sameBound);
}

void tst_DocumentOutputs::pdfFacts()
{
    const QString pdf = path(QStringLiteral("one"), QStringLiteral("pdf"));
    const QString all = text(pdf, true).simplified();
    // Every value of the report as the page shows it, the header cells and the title.
    const TestRecord shown = record();
    QStringList expected{title, QStringLiteral("浙A5K308"), TestRecordRules::dateText(shown.testDate)};
    for (Section section : {Section::Battery, Section::Grounding, Section::Starter, Section::Charging3K,
                            Section::Charging2K, Section::Avg2K})
        for (const QString &line :
             ReportText::sectionText(shown, section, ReportText::Form::Page).split(u'\n'))
            expected << line.simplified();
    for (const QString &value : expected)
        QVERIFY2(all.contains(value), qPrintable(value + QStringLiteral(" in ") + all));

    const Run fonts = run(QStandardPaths::findExecutable(QStringLiteral("pdffonts")), {pdf});
    const QStringList rows = QString::fromUtf8(fonts.out).split(QLatin1Char('\n'), Qt::SkipEmptyParts).mid(2);
    QVERIFY(rows.size() >= 2); // a Latin and a Chinese face
    for (const QString &row : rows)
        QVERIFY2(row.contains(QRegularExpression(
                     QStringLiteral("\\byes\\s+(yes|no)\\s+(yes|no)\\s+\\d+\\s+\\d+\\s*$"))),
                 qPrintable(row)); // the "emb" column

    const QString info = QString::fromUtf8(run(m_pdfinfo, {pdf}).out);
    QVERIFY2(info.contains(QRegularExpression(
                 QStringLiteral("Page size:\\s+595(\\.\\d+)? x 84[12](\\.\\d+)? pts \\(A4\\)"))),
             qPrintable(info));
    QVERIFY2(
        info.contains(QRegularExpression(QStringLiteral("Title:\\s+Battery Test Report 蓄电池测试报告\\n"))),
        qPrintable(info));
    QVERIFY2(info.contains(QRegularExpression(QStringLiteral("Creator:\\s+Kestrel\\n"))), qPrintable(info));
    QVERIFY2(info.contains(QRegularExpression(QStringLiteral("CreationDate:\\s+\\S"))), qPrintable(info));
}

QTEST_MAIN(tst_DocumentOutputs)
#include "tst_DocumentOutputs.moc"
