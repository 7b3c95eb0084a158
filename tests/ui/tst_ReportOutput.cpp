#include <cstring>

#include <QDir>
#include <QFileInfo>
#include <QFontInfo>
#include <QFontMetrics>
#include <QImage>
#include <QLabel>
#include <QPixmap>
#include <QPrinter>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTest>

#include "AppPaths.h"
#include "Codec.h"
#include "ConfigManager.h"
#include "MainUI.h"
#include "ReportPage.h"
#include "SavePath.h"
#include "ServiceMessages.h"
#include "UiTestEnvironment.h"

namespace {

// Logical page units to picture pixels: the page is drawn through the painter window
// (-30, -15, 854, 1153) onto the 794 x 1123 picture.
QPoint toPixel(QPointF logical)
{
    return QPoint(qFloor((logical.x() + 30.0) * 794.0 / 854.0),
                  qFloor((logical.y() + 15.0) * 1123.0 / 1153.0));
}

QColor colourAt(const QImage &page, QPointF logical)
{
    return page.pixelColor(toPixel(logical));
}

bool isInk(const QColor &colour)
{
    return colour.alpha() > 128 && colour.lightness() < 100;
}

// Logical x of the leftmost and the y-range of text ink inside a logical box; x is -1 when the box is blank.
struct Ink
{
    int left = -1;
    int top = -1;
    int bottom = -1;
};

Ink inkIn(const QImage &page, const QRect &box)
{
    Ink ink;
    for (int x = box.left(); x <= box.right(); ++x) {
        for (int y = box.top(); y <= box.bottom(); ++y) {
            if (!isInk(colourAt(page, QPointF(x, y))))
                continue;
            if (ink.left < 0)
                ink.left = x;
            ink.top = ink.top < 0 ? y : std::min(ink.top, y);
            ink.bottom = std::max(ink.bottom, y);
        }
    }
    return ink;
}

// The picture fills its box: its colour a little inside every edge, and nothing a little outside.
void checkPictureBox(const QImage &page, const QRect &box, const QString &picture)
{
    const QColor colour = UiTestEnvironment::pictureColour(picture);
    const QRectF inner = QRectF(box).adjusted(3, 3, -3, -3);
    for (QPointF point :
         {inner.center(), inner.topLeft(), inner.topRight(), inner.bottomLeft(), inner.bottomRight()})
        QCOMPARE(colourAt(page, point), colour);
    const QRectF outer = QRectF(box).adjusted(-4, -4, 4, 4);
    for (QPointF point : {outer.topLeft(), outer.topRight(), outer.bottomLeft(), outer.bottomRight(),
                          QPointF(outer.left(), box.center().y()), QPointF(outer.right(), box.center().y())})
        QCOMPARE(colourAt(page, point).alpha(), 0);
}

template <typename Message> void post(MainUI &window, const Message &message)
{
    QVERIFY(window.postMessage(&message, sizeof(message)));
}

void feed(MainUI &window, const TestRecord &record)
{
    post(window, record.testDate);
    post(window, record.battery);
    post(window, record.grounding);
    post(window, record.starter);
    post(window, record.charging3K);
    post(window, record.charging2K);
    post(window, record.avg2K);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::User);
}

const std::pair<ReportPage::HeaderItem, const char *> headerItems[] = {
    {ReportPage::HeaderItem::Date, "Date.png"},
    {ReportPage::HeaderItem::Customer, "Customer.png"},
    {ReportPage::HeaderItem::BatteryModel, "BatteryModel.png"},
    {ReportPage::HeaderItem::RegistrationNo, "RegistrationNo.png"},
    {ReportPage::HeaderItem::Capacity, "Capacity.png"},
};

} // namespace

class tst_ReportOutput : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void reportFontsAreSubstituted();
    void boxesInsideTheirCells();
    void pageDrawsPicturesTextsAndLines();
    void printFormAddsHeaderAndFooter();
    void savedPageIsTransparentPng();
    void failedSaveIsLogged();
    void saveAsWritesPictureAndPostsRequest_data();
    void saveAsWritesPictureAndPostsRequest();
    void refusedPathPostsNothing_data();
    void refusedPathPostsNothing();
    void suggestedName_data();
    void suggestedName();
    void saveAsCancelledDoesNothing();
    void refusedSaveRequestIsLogged();
    void printingSwitchedOffOpensNoDialog();
    void printCancelledPrintsNothing();
    void printIntoPdfHoldsHeaderAndFooter();
    void printToFileKeepsFolderAndNeverReusesAName();
    void saveAsPdfWritesItWithoutTheHelper_data();
    void saveAsPdfWritesItWithoutTheHelper();
};

void tst_ReportOutput::initTestCase()
{
    QVERIFY2(MainUI::installFonts(), "the report fonts need fonts-wqy-microhei and fonts-liberation2");
}

void tst_ReportOutput::reportFontsAreSubstituted()
{
    // Section texts: Chinese glyphs, and spaces as wide as digits so the values line up.
    const QFontMetrics section(QFont(QStringLiteral("SimSun"), 12));
    QVERIFY(section.inFontUcs4(0x6C7D)); // 汽
    QVERIFY(section.inFontUcs4(0x03A9)); // Ω
    QCOMPARE(section.horizontalAdvance(QLatin1Char(' ')), section.horizontalAdvance(QLatin1Char('0')));
    QCOMPARE(section.horizontalAdvance(QLatin1Char('-')), section.horizontalAdvance(QLatin1Char('0')));
    // Arial's metrics, so header texts take the width they were laid out for.
    const QFontInfo header(QFont(QStringLiteral("Arial"), 12));
    QVERIFY2(header.family() == QStringLiteral("Arial") ||
                 header.family().startsWith(QStringLiteral("Liberation Sans")),
             qPrintable(header.family()));
}

void tst_ReportOutput::boxesInsideTheirCells()
{
    const QRect dateCell = ReportPage::headerCell(ReportPage::HeaderItem::Date);
    QCOMPARE(dateCell, QRect(0, 50, 397, 93));
    QCOMPARE(ReportPage::headerPictureBox(dateCell), QRect(16, 66, 101, 61));
    QCOMPARE(ReportPage::headerTextBox(dateCell), QRect(QPoint(137, 66), QPoint(380, 126)));
    QCOMPARE(ReportPage::headerCell(ReportPage::HeaderItem::Capacity), QRect(397, 236, 397, 93));
    const QRect batteryCell = ReportPage::sectionCell(Section::Battery);
    QCOMPARE(batteryCell, QRect(0, 330, 397, 250));
    QCOMPARE(ReportPage::sectionPictureBox(batteryCell), QRect(76, 350, 245, 85));
    QCOMPARE(ReportPage::sectionTextBox(batteryCell), QRect(QPoint(16, 450), QPoint(380, 569)));
    // The page keeps grounding at the bottom left and avg2K at the bottom right.
    QCOMPARE(ReportPage::sectionCell(Section::Grounding), QRect(0, 830, 397, 250));
    QCOMPARE(ReportPage::sectionCell(Section::Starter), QRect(0, 580, 397, 250));
    QCOMPARE(ReportPage::sectionCell(Section::Avg2K), QRect(397, 830, 397, 250));
    QCOMPARE(ReportPage::printFooterBox(), QRect(0, 1090, 794, 1107));
}

void tst_ReportOutput::pageDrawsPicturesTextsAndLines()
{
    UiTestEnvironment env;
    QVERIFY(env.isReady());
    env.writePictures();
    MainUI window;
    feed(window, fullTestRecord());

    QPixmap pixmap(ReportPage::pageSize);
    window.renderReport(pixmap, env.dir().path(QStringLiteral("Temp/page.png")));
    const QImage page = pixmap.toImage();

    for (const auto &[item, picture] : headerItems) {
        const QRect cell = ReportPage::headerCell(item);
        checkPictureBox(page, ReportPage::headerPictureBox(cell), QString::fromLatin1(picture));
    }
    const std::pair<Section, const char *> sections[] = {
        {Section::Battery, "1-4.png"},    {Section::Grounding, "2-2.png"},  {Section::Starter, "3-1.png"},
        {Section::Charging3K, "4-2.png"}, {Section::Charging2K, "5-1.png"}, {Section::Avg2K, "6-2.png"},
    };
    for (const auto &[section, picture] : sections) {
        const QRect cell = ReportPage::sectionCell(section);
        checkPictureBox(page, ReportPage::sectionPictureBox(cell), QString::fromLatin1(picture));
        // Section texts start at the top left of their box, after the indentation blanks.
        const QRect textBox = ReportPage::sectionTextBox(cell);
        const Ink ink = inkIn(page, textBox);
        QVERIFY2(ink.left > textBox.left() + 60, picture);
        QVERIFY2(ink.top >= textBox.top() && ink.top < textBox.top() + 12, picture);
    }

    // The date is left-aligned and vertically centred in its text box; an empty customer leaves it blank.
    const QRect dateBox = ReportPage::headerTextBox(ReportPage::headerCell(ReportPage::HeaderItem::Date));
    const Ink date = inkIn(page, dateBox);
    QVERIFY(date.left >= dateBox.left() && date.left < dateBox.left() + 6);
    QVERIFY(qAbs((date.top + date.bottom) / 2 - dateBox.center().y()) <= 3);
    QCOMPARE(
        inkIn(page, ReportPage::headerTextBox(ReportPage::headerCell(ReportPage::HeaderItem::Customer))).left,
        -1);

    QVERIFY(isInk(colourAt(page, QPointF(400, 330))));
    QVERIFY(isInk(colourAt(page, QPointF(400, 1080))));
    QVERIFY(isInk(colourAt(page, QPointF(0, 1080))));
    QCOMPARE(colourAt(page, QPointF(400, 50)).alpha(), 0); // no print header on a saved page
    QCOMPARE(inkIn(page, QRect(0, 0, 794, 49)).left, -1);
    QCOMPARE(inkIn(page, QRect(0, 1090, 794, 30)).left, -1);
    QCOMPARE(page.pixelColor(0, 0).alpha(), 0);
    QCOMPARE(page.pixelColor(793, 1122).alpha(), 0);
}

void tst_ReportOutput::printFormAddsHeaderAndFooter()
{
    UiTestEnvironment env;
    QVERIFY(env.isReady());
    // Three header lines are taller than the header's 40-unit box; four footer lines taller than
    // the room below the footer line.
    ConfigManager::instance()->setDocSetting({QStringLiteral("Title"),
                                              QStringLiteral("Kestrel Garage\nTel. 0571\nHangzhou"),
                                              QStringLiteral("Thank you\nfor your\nvisit\nand trust")});
    MainUI window;
    QPixmap pixmap(ReportPage::pageSize);
    window.renderReport(pixmap, QString());
    const QImage page = pixmap.toImage();

    QVERIFY(isInk(colourAt(page, QPointF(400, 50))));
    const Ink header = inkIn(page, QRect(0, -15, 794, 64));
    QVERIFY(header.left > 250 && header.left < 397); // centred
    QVERIFY(header.bottom > 30);                     // bottom-aligned
    QVERIFY2(header.top > -15 && header.top < 0,
             qPrintable(QString::number(header.top))); // whole, above its box
    const Ink footer = inkIn(page, QRect(0, 1090, 794, 48));
    QVERIFY(footer.left > 250 && footer.left < 397);
    QVERIFY(footer.top < 1100);                                      // top-aligned
    QVERIFY(footer.bottom < 1137);                                   // not cut by the page's edge
    QVERIFY(QDir(env.dir().path(QStringLiteral("Temp"))).isEmpty()); // printing saves nothing
}

void tst_ReportOutput::savedPageIsTransparentPng()
{
    UiTestEnvironment env;
    QVERIFY(env.isReady());
    env.writePictures();
    MainUI window;
    QPixmap pixmap(ReportPage::pageSize);
    const QString path = env.dir().path(QStringLiteral("Temp/saved.png"));
    window.renderReport(pixmap, path);

    QCOMPARE(QByteArray(env.dir().readFile(QStringLiteral("Temp/saved.png")).left(8)),
             QByteArray("\x89PNG\r\n\x1a\n"));
    const QImage saved(path);
    QCOMPARE(saved.size(), QSize(794, 1123));
    QVERIFY(saved.hasAlphaChannel());
    QCOMPARE(saved.pixelColor(2, 2).alpha(), 0);
    QCOMPARE(saved.pixelColor(toPixel(QPointF(600, 100))).alpha(), 0); // the empty header cell
    QCOMPARE(saved.pixelColor(toPixel(QPointF(60, 96))), UiTestEnvironment::pictureColour("Date.png"));
}

void tst_ReportOutput::failedSaveIsLogged()
{
    UiTestEnvironment env;
    QVERIFY(env.isReady());
    MainUI window;
    QPixmap pixmap(ReportPage::pageSize);
    const QString path = env.dir().path(QStringLiteral("no such folder/page.png"));
    window.renderReport(pixmap, path);
    QVERIFY(!QFile::exists(path));
    QCOMPARE(env.runLogLines().filter(QStringLiteral(" Pixmap save failed, Save Name:") + path).size(), 1);
}

void tst_ReportOutput::saveAsWritesPictureAndPostsRequest_data()
{
    QTest::addColumn<QString>("chosen");   // below the test's documents folder
    QTest::addColumn<QString>("filter");   // the type chosen in the dialog
    QTest::addColumn<QString>("expected"); // the document path posted
    const QStringList filters = SavePath::filters();
    QTest::newRow("bare name takes the Word 97-2003 suffix")
        << QStringLiteral("report") << filters.at(0) << QStringLiteral("report.doc");
    QTest::newRow("bare name takes the Word suffix")
        << QStringLiteral("report") << filters.at(1) << QStringLiteral("report.docx");
    QTest::newRow("a suffix of its own is kept")
        << QStringLiteral("Report.DOCX") << filters.at(0) << QStringLiteral("Report.DOCX");
    QTest::newRow("a dot in the name is not a document suffix")
        << QStringLiteral("report.v2") << filters.at(1) << QStringLiteral("report.v2.docx");
    QTest::newRow("Chinese name") << QStringLiteral("\u62a5\u544a") << filters.at(1)
                                  << QStringLiteral("\u62a5\u544a.docx");
}

void tst_ReportOutput::saveAsWritesPictureAndPostsRequest()
{
    QFETCH(QString, chosen);
    QFETCH(QString, filter);
    QFETCH(QString, expected);
    UiTestEnvironment env;
    QVERIFY(env.isReady());
    QVERIFY(QDir(env.dir().path(QStringLiteral("Temp"))).removeRecursively());
    const QString folder = env.dir().path(QStringLiteral("docs"));
    QVERIFY(QDir().mkpath(folder));
    RecordingReceiver service;
    MainUI window;
    window.setServiceReceiver(&service);
    MainUI::SaveDialogSetup offered;
    QWidget *dialogParent = nullptr;
    window.setSaveFileChooser([&](QWidget *parent, MainUI::SaveDialogSetup &setup) {
        dialogParent = parent;
        offered = setup;
        setup.selectedFilter = filter;
        return folder + QLatin1Char('/') + chosen;
    });
    QTest::mouseClick(window.findChild<QPushButton *>(QStringLiteral("saveAsButton")), Qt::LeftButton);

    QCOMPARE(dialogParent, &window);
    QCOMPARE(offered.caption, QStringLiteral("Save File"));
    QCOMPARE(offered.filters,
             QStringList({QStringLiteral("Word 97-2003 document (*.doc)"),
                          QStringLiteral("Word document (*.docx)"), QStringLiteral("PDF document (*.pdf)")}));
    // No registration yet: the time stamp names the picture and is suggested for the document.
    const QRegularExpressionMatch stamp =
        QRegularExpression(QStringLiteral("^(\\d{17})$")).match(QFileInfo(offered.suggestedPath).fileName());
    QVERIFY2(stamp.hasMatch(), qPrintable(offered.suggestedPath));
    const QString picturePath =
        AppPaths::tempDir() + QStringLiteral("/") + stamp.captured(1) + QStringLiteral(".png");
    QCOMPARE(QImage(picturePath).size(), QSize(794, 1123));

    QCOMPARE(service.messages.size(), 1);
    QCOMPARE(service.messages.first().size(), qsizetype(sizeof(SaveDataRequest)));
    SaveDataRequest request;
    std::memcpy(&request, service.messages.first().constData(), sizeof(request));
    QCOMPARE(std::uint32_t(request.header.id), std::uint32_t(MSG_SAVE_DATA_REQUEST));
    QCOMPARE(std::uint32_t(request.header.size), std::uint32_t(1288));
    QCOMPARE(QByteArray(request.picturePath), Codec::toBytes(picturePath));
    const QString posted = folder + QLatin1Char('/') + expected;
    QCOMPARE(Codec::fromField(request.docPath, sizeof(request.docPath)), posted);
    QCOMPARE(request.docPath[sizeof(request.docPath) - 1], '\0');
    QCOMPARE(window.statusText(), QStringLiteral("Saving %1...").arg(expected));

    // The next Save As starts in this folder, also after a restart (main.ini keeps it).
    QCOMPARE(ConfigManager::instance()->lastSaveFolder(), folder);
    QCOMPARE(env.iniValue(QStringLiteral("Basic"), QStringLiteral("LastSaveFolder")), folder);
    window.setSaveFileChooser([&](QWidget *, MainUI::SaveDialogSetup &setup) {
        offered = setup;
        return QString();
    });
    window.saveAsClicked();
    QCOMPARE(QFileInfo(offered.suggestedPath).absolutePath(), folder);
}

void tst_ReportOutput::refusedPathPostsNothing_data()
{
    QTest::addColumn<QString>("path"); // "<docs>" stands for the test's documents folder
    QTest::addColumn<QString>("status");
    QTest::newRow("character GBK cannot hold")
        << QStringLiteral("<docs>/caf\u0151.docx")
        << QStringLiteral("Not saved: the path holds \u201c\u0151\u201d (U+0151), which a document path "
                          "cannot carry");
    QTest::newRow("character outside the basic plane")
        << QStringLiteral("<docs>/r\U0001F600.docx")
        << QStringLiteral("Not saved: the path holds \u201c\U0001F600\u201d (U+1f600), which a document "
                          "path cannot carry");
    // 4 + 2 x 148 + 5 GBK bytes for the name alone.
    QTest::newRow("path longer than the document path field")
        << QStringLiteral("<docs>/x") + QString(148, QChar(0x62a5)) + QStringLiteral(".docx") << QString();
    QTest::newRow("folder does not exist") << QStringLiteral("<docs>/missing/report.docx")
                                           << QStringLiteral("Not saved: the folder does not exist");
    QTest::newRow("folder cannot be written")
        << QStringLiteral("/proc/report.docx") << QStringLiteral("Not saved: the folder cannot be written");
    QTest::newRow("a folder of that name")
        << QStringLiteral("<docs>/sub.docx") << QStringLiteral("Not saved: a folder of that name is there");
}

void tst_ReportOutput::refusedPathPostsNothing()
{
    QFETCH(QString, path);
    QFETCH(QString, status);
    UiTestEnvironment env;
    QVERIFY(env.isReady());
    const QString folder = env.dir().path(QStringLiteral("docs"));
    QVERIFY(QDir().mkpath(folder + QStringLiteral("/sub.docx")));
    path.replace(QStringLiteral("<docs>"), folder);
    RecordingReceiver service;
    MainUI window;
    window.setServiceReceiver(&service);
    QStringList suggested;
    window.setSaveFileChooser([&](QWidget *, MainUI::SaveDialogSetup &setup) {
        suggested << setup.suggestedPath;
        // The dialog's own check refuses the path as well.
        if (suggested.size() == 1 && setup.problem(path).isEmpty())
            return QStringLiteral("the dialog let it through");
        return suggested.size() == 1 ? path : QString();
    });
    window.saveAsClicked();

    // Refused before anything is posted, and offered again with the name for correction.
    QVERIFY(service.messages.isEmpty());
    QCOMPARE(suggested.size(), 2);
    QCOMPARE(suggested.at(1), path);
    if (status.isEmpty())
        QVERIFY2(window.statusText().startsWith(QStringLiteral("Not saved: the path is ")),
                 qPrintable(window.statusText()));
    else
        QCOMPARE(window.statusText(), status);
    QCOMPARE(window.findChild<QLabel *>(QStringLiteral("statusLabel"))->toolTip(), path);
    QCOMPARE(window.accessibleDescription(), window.statusText());
    QVERIFY(QDir(env.dir().path(QStringLiteral("Temp"))).entryList(QDir::Files).isEmpty());
    QVERIFY(ConfigManager::instance()->lastSaveFolder().isEmpty());
    // The run log is GBK too: it names the character by its code and shows the path as it can.
    const QStringList lines = env.runLogLines().filter(QStringLiteral("MainUI Save As refused, Reason:"));
    const QString loggedPath = Codec::toText(Codec::toBytes(path));
    QVERIFY2(!lines.isEmpty() && lines.first().endsWith(QStringLiteral(", Doc Path:") + loggedPath),
             qPrintable(lines.join(QLatin1Char('\n'))));
}

void tst_ReportOutput::suggestedName_data()
{
    QTest::addColumn<QString>("registration");
    QTest::addColumn<QString>("expected");
    QTest::newRow("registration and date")
        << QStringLiteral("AB12CDE") << QStringLiteral("AB12CDE_2026-03-07");
    QTest::newRow("unsafe characters replaced")
        << QStringLiteral("A/B\\C:D*E?F\"G<H>I|J") << QStringLiteral("A_B_C_D_E_F_G_H_I_J_2026-03-07");
    QTest::newRow("Chinese registration kept")
        << QStringLiteral("\u4eacA5K308") << QStringLiteral("\u4eacA5K308_2026-03-07");
    QTest::newRow("no registration: time stamp") << QString() << QStringLiteral("20260307093005042");
    QTest::newRow("blank registration: time stamp")
        << QStringLiteral("  ") << QStringLiteral("20260307093005042");
}

void tst_ReportOutput::suggestedName()
{
    QFETCH(QString, registration);
    QFETCH(QString, expected);
    const QDateTime now(QDate(2026, 3, 7), QTime(9, 30, 5, 42));
    QCOMPARE(SavePath::suggestedName(registration, now), expected);
}

void tst_ReportOutput::saveAsCancelledDoesNothing()
{
    UiTestEnvironment env;
    QVERIFY(env.isReady());
    QVERIFY(QDir(env.dir().path(QStringLiteral("Temp"))).removeRecursively());
    RecordingReceiver service;
    MainUI window;
    window.setServiceReceiver(&service);
    window.setSaveFileChooser([](QWidget *, MainUI::SaveDialogSetup &) { return QString(); });
    window.saveAsClicked();
    QVERIFY(service.messages.isEmpty());
    QVERIFY(!QDir(env.dir().path(QStringLiteral("Temp"))).exists());
}

void tst_ReportOutput::refusedSaveRequestIsLogged()
{
    UiTestEnvironment env;
    QVERIFY(env.isReady());
    RecordingReceiver service;
    service.refuse = true;
    MainUI window;
    window.setServiceReceiver(&service);
    const QString docPath = env.dir().path(QStringLiteral("x.doc"));
    window.setSaveFileChooser([&](QWidget *, MainUI::SaveDialogSetup &) { return docPath; });
    window.saveAsClicked();
    QCOMPARE(QDir(env.dir().path(QStringLiteral("Temp"))).entryList(QDir::Files).size(),
             1); // the picture stays
    QCOMPARE(env.runLogLines()
                 .filter(QStringLiteral("MainUI Save Data request refused, Doc Path:") + docPath)
                 .size(),
             1);
    QCOMPARE(window.statusText(), QStringLiteral("Not saved: kestrel is busy; try again"));
}

void tst_ReportOutput::printingSwitchedOffOpensNoDialog()
{
    UiTestEnvironment env({QStringLiteral("CloseDataPrinter=1")});
    QVERIFY(env.isReady());
    QVERIFY(ConfigManager::instance()->closeDataPrinter());
    MainUI window;
    auto *print = window.findChild<QPushButton *>(QStringLiteral("printerButton"));
    QVERIFY(!print->isEnabled());
    QCOMPARE(print->toolTip(),
             QStringLiteral("Print: printing is switched off in main.ini (CloseDataPrinter=1)"));
    int dialogs = 0;
    window.setPrintDialogRunner([&](QPrinter &, QWidget *) {
        ++dialogs;
        return false;
    });
    window.printerClicked();
    QCOMPARE(dialogs, 0);

    // Printing switched on by hand in main.ini: the button follows the reload.
    QTest::qWait(1100); // the reload looks at whole seconds of the file's time
    QByteArray ini = env.dir().readFile(QStringLiteral("Config/main.ini"));
    QVERIFY(ini.contains("CloseDataPrinter=1"));
    ini.replace("CloseDataPrinter=1", "CloseDataPrinter=0");
    QVERIFY(env.dir().writeFile(QStringLiteral("Config/main.ini"), ini));
    QTRY_VERIFY_WITH_TIMEOUT(print->isEnabled(), 8000);
    QCOMPARE(print->toolTip(), QStringLiteral("Print"));
    QCOMPARE(window.statusText(), QStringLiteral("Printing is switched on again"));
    window.printerClicked();
    QCOMPARE(dialogs, 1);
}

void tst_ReportOutput::printCancelledPrintsNothing()
{
    UiTestEnvironment env;
    QVERIFY(env.isReady());
    MainUI window;
    const QString pdf = env.dir().path(QStringLiteral("cancelled.pdf"));
    int dialogs = 0;
    window.setPrintDialogRunner([&](QPrinter &printer, QWidget *parent) {
        ++dialogs;
        if (parent != &window || printer.resolution() < 300)
            return true; // would print, and the checks below fail
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(pdf);
        return false;
    });
    window.printerClicked();
    QCOMPARE(dialogs, 1);
    QVERIFY(!QFile::exists(pdf));
}

void tst_ReportOutput::printIntoPdfHoldsHeaderAndFooter()
{
    const QString pdftotext = QStandardPaths::findExecutable(QStringLiteral("pdftotext"));
    if (pdftotext.isEmpty())
        QSKIP("pdftotext (poppler-utils) is not installed");
    UiTestEnvironment env;
    QVERIFY(env.isReady());
    env.writePictures();
    ConfigManager::instance()->setDocSetting({QStringLiteral("Title"),
                                              QStringLiteral("Kestrel Garage\n汽车维修"),
                                              QStringLiteral("Thank you for your visit")});
    MainUI window;
    feed(window, fullTestRecord());
    const QString pdf = env.dir().path(QStringLiteral("report.pdf"));
    window.setPrintDialogRunner([&](QPrinter &printer, QWidget *) {
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(pdf);
        return true;
    });
    window.printerClicked();

    QProcess process;
    process.start(pdftotext, {QStringLiteral("-layout"), pdf, QStringLiteral("-")});
    QVERIFY(process.waitForFinished(30000));
    QCOMPARE(process.exitCode(), 0);
    const QString text = QString::fromUtf8(process.readAllStandardOutput());
    QVERIFY2(text.contains(QStringLiteral("Kestrel Garage")), qPrintable(text));
    QVERIFY2(text.contains(QStringLiteral("汽车维修")), qPrintable(text));
    QVERIFY2(text.contains(QStringLiteral("Thank you for your visit")), qPrintable(text));
    QVERIFY2(text.contains(QStringLiteral("07-03-2026")), qPrintable(text));
    QVERIFY2(text.contains(QStringLiteral("11.99 V **")), qPrintable(text));
    QCOMPARE(text.count(QLatin1Char('\f')), 1); // one page
    QVERIFY(text.indexOf(QStringLiteral("Kestrel Garage")) < text.indexOf(QStringLiteral("07-03-2026")));
    QVERIFY(text.indexOf(QStringLiteral("Thank you")) > text.indexOf(QStringLiteral("11.99")));
}

void tst_ReportOutput::printToFileKeepsFolderAndNeverReusesAName()
{
    UiTestEnvironment env;
    QVERIFY(env.isReady());
    MainUI window;
    const QString folder = env.dir().path(QStringLiteral("prints"));
    QVERIFY(QDir().mkpath(folder));
    QStringList offered;
    window.setPrintDialogRunner([&](QPrinter &printer, QWidget *) {
        offered << printer.outputFileName();
        printer.setOutputFormat(QPrinter::PdfFormat);
        if (printer.outputFileName().isEmpty())
            printer.setOutputFileName(folder + QStringLiteral("/first.pdf"));
        return true;
    });
    window.printerClicked();
    QVERIFY(QFile::exists(folder + QStringLiteral("/first.pdf")));
    for (int i = 0; i < 2; ++i) {
        QTest::qWait(2); // a fresh time stamp
        window.printerClicked();
    }

    QCOMPARE(offered.size(), 3);
    QCOMPARE(offered.first(), QString()); // nothing printed to a file yet
    QCOMPARE(QFileInfo(offered.at(1)).absolutePath(), folder);
    QCOMPARE(QFileInfo(offered.at(2)).absolutePath(), folder);
    QVERIFY(offered.at(1) != offered.at(2));
    QCOMPARE(QDir(folder).entryList(QDir::Files).size(), 3); // three prints, three files

    // main.ini keeps the folder: a window of the next start offers it again.
    QCOMPARE(env.iniValue(QStringLiteral("Basic"), QStringLiteral("LastPrintFolder")), folder);
    MainUI nextStart;
    nextStart.setPrintDialogRunner([&](QPrinter &printer, QWidget *) {
        offered << printer.outputFileName();
        return false;
    });
    nextStart.printerClicked();
    QCOMPARE(QFileInfo(offered.last()).absolutePath(), folder);
}

void tst_ReportOutput::saveAsPdfWritesItWithoutTheHelper_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("filter");
    QTest::addColumn<QString>("written");
    const QString pdf = QStringLiteral("PDF document (*.pdf)");
    QTest::newRow("suffix typed") << QStringLiteral("report.PDF") << SavePath::filters().value(0)
                                  << QStringLiteral("report.PDF");
    QTest::newRow("bare name, PDF type chosen")
        << QStringLiteral("report") << pdf << QStringLiteral("report.pdf");
}

void tst_ReportOutput::saveAsPdfWritesItWithoutTheHelper()
{
    QFETCH(QString, name);
    QFETCH(QString, filter);
    QFETCH(QString, written);
    QVERIFY(SavePath::filters().contains(QStringLiteral("PDF document (*.pdf)")));
    UiTestEnvironment env;
    QVERIFY(env.isReady());
    QVERIFY(QDir(env.dir().path(QStringLiteral("Temp"))).removeRecursively());
    RecordingReceiver service;
    MainUI window;
    window.setServiceReceiver(&service);
    window.setSaveFileChooser([&](QWidget *, MainUI::SaveDialogSetup &setup) {
        setup.selectedFilter = filter;
        return env.dir().path(name);
    });
    QSignalSpy outcomes(&window, &MainUI::documentSaved);
    window.saveAsClicked();

    const QString docPath = env.dir().path(written);
    const QString line = QStringLiteral("SaveDataToDoc Successful, Doc Path:%1").arg(docPath);
    QCOMPARE(env.dir().readFile(written).left(5), QByteArray("%PDF-"));
    QVERIFY(service.messages.isEmpty()); // the helper is not involved
    QVERIFY(!QDir(env.dir().path(QStringLiteral("Temp"))).exists());
    QCOMPARE(outcomes.size(), 1);
    QVERIFY(outcomes.first().at(0).toBool());
    QCOMPARE(outcomes.first().at(1).toString(), line);
    QCOMPARE(env.runLogLines().filter(line).size(), 1);
    QCOMPARE(window.statusText(), QStringLiteral("Saved %1").arg(written));
}

QTEST_MAIN(tst_ReportOutput)
#include "tst_ReportOutput.moc"
