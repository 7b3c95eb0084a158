#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QPrinter>
#include <QPushButton>
#include <QTest>

#include "ConfigManager.h"
#include "MainUI.h"
#include "ServiceManager.h"
#include "TesterSim.h"
#include "UiTestEnvironment.h"

namespace {

QString text(const QWidget &window, const char *labelName)
{
    return window.findChild<QLabel *>(QString::fromLatin1(labelName))->text();
}

QColor pictureColour(const QWidget &window, const char *labelName)
{
    const QImage image = window.findChild<QLabel *>(QString::fromLatin1(labelName))->pixmap().toImage();
    return image.isNull() ? QColor() : image.pixelColor(image.width() / 2, image.height() / 2);
}

// With KESTREL_SCREENSHOT_DIR set, the window shows the real artwork and the test leaves a grab of
// the window and the saved page there (the README's pictures).
QString screenshotDir()
{
    return qEnvironmentVariable("KESTREL_SCREENSHOT_DIR");
}

void useArtwork(UiTestEnvironment &env)
{
    const QDir artwork(QStringLiteral(KESTREL_BINARY_DIR "/Image"));
    for (const QString &name : artwork.entryList({QStringLiteral("*.png")}, QDir::Files)) {
        QFile::remove(env.dir().path(QStringLiteral("Image/") + name));
        QFile::copy(artwork.filePath(name), env.dir().path(QStringLiteral("Image/") + name));
    }
}

QByteArray testInfoIni()
{
    return "[Test Info]\r\nCustomer=" +
           ConfigManager::hexEncode(QStringLiteral("张三汽修 Zhang's Garage")).toLatin1() +
           "\r\nBatteryModel=" + ConfigManager::hexEncode(QStringLiteral("6-QW-60 (L2-400)")).toLatin1() +
           "\r\n";
}

} // namespace

class tst_MainUIQuery : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { MainUI::installFonts(); }
    void queryShowsTheTestersResults();
    void queryOfAVanishedTesterShowsMissingValues();
    void portListFollowsTheCable();
};

void tst_MainUIQuery::queryShowsTheTestersResults()
{
    // A read window of 100 ms instead of 10 keeps a busy test machine from losing replies.
    UiTestEnvironment env({QStringLiteral("QueryDataTimeout=100")}, testInfoIni());
    QVERIFY(env.isReady());
    env.writePictures();
    if (!screenshotDir().isEmpty())
        useArtwork(env);
    TesterSim sim;
    QVERIFY2(sim.start(env.portPath(3), {QStringLiteral("--no-pacing")}), qPrintable(sim.errorText()));

    MainUI window;
    ServiceManager service;
    service.setWindowReceiver(&window);
    QVERIFY(service.initialize() && service.active());
    window.setServiceReceiver(&service);

    auto *ports = window.findChild<QComboBox *>(QStringLiteral("usbComboBox"));
    QCOMPARE(ports->count(), 1);
    QCOMPARE(ports->itemText(0), QStringLiteral("COM - 3"));
    QCOMPARE(ports->itemData(0).toInt(), 3);
    QCOMPARE(ports->itemData(0, Qt::ToolTipRole).toString(), env.portPath(3));

    auto *queryButton = window.findChild<QPushButton *>(QStringLiteral("queryDataButton"));
    QTest::mouseClick(queryButton, Qt::LeftButton);
    QVERIFY(!queryButton->isEnabled());
    QCOMPARE(text(window, "dataTextLabel"), QStringLiteral("00-00-0000"));
    QTRY_VERIFY_WITH_TIMEOUT(queryButton->isEnabled(), 60000);

    if (text(window, "dataTextLabel") != QStringLiteral("07-03-2026"))
        qDebug() << env.runLogLines() << sim.log();
    QCOMPARE(text(window, "dataTextLabel"), QStringLiteral("07-03-2026"));
    QCOMPARE(text(window, "registrationNoTextLabel"), QStringLiteral("沪A5K308"));
    QCOMPARE(window.statusText(), QStringLiteral("Test read"));
    QCOMPARE(text(window, "capacityTextLabel"), QStringLiteral("700 CCA"));
    QCOMPARE(text(window, "batteryTextLabel"), QStringLiteral("          12.62 V    \n            640 CCA\n"
                                                              "           4.58 mΩ\n             92 %    "));
    QCOMPARE(text(window, "charging2KTextLabel"),
             QStringLiteral("          13.13 V      \n          13.41 V    **\n"
                            "          12.86 V    "));
    if (screenshotDir().isEmpty()) {
        QCOMPARE(pictureColour(window, "batteryShowLabel"), UiTestEnvironment::pictureColour("1-1.png"));
        QCOMPARE(pictureColour(window, "charging2KShowLabel"), UiTestEnvironment::pictureColour("5-2.png"));
    } else {
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QVERIFY(window.grab().save(screenshotDir() + QStringLiteral("/window-after-query.png")));
        // The same window after a Save As into a folder that does not exist.
        const QString missing = env.dir().path(QStringLiteral("no such folder/AB12CDE_2026-03-07.docx"));
        window.setSaveFileChooser([&, asked = 0](QWidget *, MainUI::SaveDialogSetup &) mutable {
            return ++asked == 1 ? missing : QString();
        });
        window.saveAsClicked();
        QCOMPARE(window.statusText(), QStringLiteral("Not saved: the folder does not exist"));
        QVERIFY(window.grab().save(screenshotDir() + QStringLiteral("/window-not-saved.png")));
        QPixmap page(ReportPage::pageSize);
        window.renderReport(page, screenshotDir() + QStringLiteral("/saved-page.png"));
        ConfigManager::instance()->setDocSetting(
            {QStringLiteral("Battery test report"),
             QStringLiteral("Zhang's Garage 张三汽修\nTel. 0571-8888 8888"),
             QStringLiteral("Thank you for your visit")});
        window.setPrintDialogRunner([](QPrinter &printer, QWidget *) {
            printer.setOutputFormat(QPrinter::PdfFormat);
            printer.setOutputFileName(screenshotDir() + QStringLiteral("/printed-page.pdf"));
            return true;
        });
        window.printerClicked();
    }
    QVERIFY(service.deactive());
    service.exit();
}

void tst_MainUIQuery::queryOfAVanishedTesterShowsMissingValues()
{
    UiTestEnvironment env({QStringLiteral("QueryDataTimeout=100")});
    QVERIFY(env.isReady());
    env.writePictures();
    TesterSim sim;
    QVERIFY2(sim.start(env.portPath(42), {QStringLiteral("--no-pacing")}), qPrintable(sim.errorText()));
    MainUI window;
    sim.stop(); // listed at start-up, gone by the time of the query
    ServiceManager service;
    service.setWindowReceiver(&window);
    QVERIFY(service.initialize() && service.active());
    window.setServiceReceiver(&service);

    auto battery = makeBatteryResult();
    battery.status = 1;
    battery.voltage = 1262;
    QVERIFY(window.postMessage(&battery, sizeof(battery)));
    QCoreApplication::sendPostedEvents(nullptr, QEvent::User);

    auto *queryButton = window.findChild<QPushButton *>(QStringLiteral("queryDataButton"));
    QTest::mouseClick(queryButton, Qt::LeftButton);
    QVERIFY(!queryButton->isEnabled());
    QTRY_VERIFY_WITH_TIMEOUT(queryButton->isEnabled(), 60000);
    for (const char *label : {"batteryTextLabel", "groundingTextLabel", "starterTextLabel",
                              "charging3KTextLabel", "charging2KTextLabel", "avg2KTextLabel"})
        QVERIFY2(text(window, label).contains(QStringLiteral("------")), label);
    QCOMPARE(pictureColour(window, "batteryShowLabel"), UiTestEnvironment::pictureColour("1-0.png"));
    QCOMPARE(text(window, "capacityTextLabel"), QStringLiteral("0 CCA"));
    QCOMPARE(window.statusText(), QStringLiteral("Tester did not answer on COM - 42"));
    QVERIFY(service.deactive());
    service.exit();
    QCOMPARE(
        env.runLogLines().filter(QStringLiteral("Open Serial Port failed, Port:") + env.portPath(42)).size(),
        1);
}

void tst_MainUIQuery::portListFollowsTheCable()
{
    UiTestEnvironment env({QStringLiteral("QueryDataTimeout=100")});
    QVERIFY(env.isReady());
    env.writePictures();
    MainUI window; // no tester yet
    ServiceManager service;
    service.setWindowReceiver(&window);
    QVERIFY(service.initialize() && service.active());
    window.setServiceReceiver(&service);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    auto *ports = window.findChild<QComboBox *>(QStringLiteral("usbComboBox"));
    auto *queryButton = window.findChild<QPushButton *>(QStringLiteral("queryDataButton"));
    QCOMPARE(ports->count(), 0);
    QVERIFY(window.statusText().startsWith(QStringLiteral("No tester found.")));

    // Plugged in after start: Query Data with the empty list finds it and queries it.
    TesterSim sim;
    QVERIFY2(sim.start(env.portPath(9), {QStringLiteral("--no-pacing")}), qPrintable(sim.errorText()));
    QTest::mouseClick(queryButton, Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(ports->count(), 1, 20000);
    QCOMPARE(ports->itemText(0), QStringLiteral("COM - 9"));
    QCOMPARE(ports->itemData(0, Qt::ToolTipRole).toString(), env.portPath(9));
    QTRY_COMPARE_WITH_TIMEOUT(window.statusText(), QStringLiteral("Test read"), 60000);
    QVERIFY(queryButton->isEnabled());
    QCOMPARE(text(window, "dataTextLabel"), QStringLiteral("07-03-2026"));

    // A second tester appears: opening the list finds it, and the chosen one stays chosen.
    TesterSim second;
    QVERIFY2(second.start(env.portPath(4), {QStringLiteral("--no-pacing")}), qPrintable(second.errorText()));
    ports->showPopup();
    QTRY_VERIFY_WITH_TIMEOUT(!window.isSearchingPorts() && ports->count() == 2, 20000);
    ports->hidePopup();
    QCOMPARE(ports->itemText(0), QStringLiteral("COM - 4"));
    QCOMPARE(ports->currentText(), QStringLiteral("COM - 9"));

    // Unplugged: the vanished ports leave the list when it is opened again.
    sim.stop();
    second.stop();
    ports->showPopup();
    QTRY_VERIFY_WITH_TIMEOUT(!window.isSearchingPorts() && ports->count() == 0, 20000);
    ports->hidePopup();
    QVERIFY(window.statusText().startsWith(QStringLiteral("No tester found.")));
    QVERIFY(service.deactive());
    service.exit();
}

QTEST_MAIN(tst_MainUIQuery)
#include "tst_MainUIQuery.moc"
