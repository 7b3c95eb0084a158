#include <cstring>

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include "Codec.h"
#include "ConfigManager.h"
#include "MainUI.h"
#include "ReportText.h"
#include "ServiceMessages.h"
#include "UiTestEnvironment.h"

Q_DECLARE_METATYPE(SaveOutcome)

namespace {

const Section allSections[] = {Section::Battery,    Section::Grounding,  Section::Starter,
                               Section::Charging3K, Section::Charging2K, Section::Avg2K};

QString sectionName(Section section)
{
    switch (section) {
    case Section::Battery:
        return QStringLiteral("battery");
    case Section::Grounding:
        return QStringLiteral("grounding");
    case Section::Starter:
        return QStringLiteral("starter");
    case Section::Charging3K:
        return QStringLiteral("charging3K");
    case Section::Charging2K:
        return QStringLiteral("charging2K");
    case Section::Avg2K:
        return QStringLiteral("avg2K");
    }
    return QString();
}

template <typename Widget> Widget *child(const QWidget &window, const QString &name)
{
    auto *widget = window.findChild<Widget *>(name);
    if (!widget)
        qFatal("no widget %s", qPrintable(name));
    return widget;
}

QString text(const QWidget &window, const QString &labelName)
{
    return child<QLabel>(window, labelName)->text();
}

// The colour in the middle of a label's picture, or an invalid colour when it has none.
QColor pictureColour(const QWidget &window, const QString &labelName)
{
    const QPixmap pixmap = child<QLabel>(window, labelName)->pixmap();
    if (pixmap.isNull())
        return QColor();
    return pixmap.toImage().pixelColor(pixmap.width() / 2, pixmap.height() / 2);
}

template <typename Message> void post(MainUI &window, const Message &message)
{
    QVERIFY(window.postMessage(&message, sizeof(message)));
}

// Lets the window handle everything posted to it so far.
void handlePosted()
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::User);
}

QByteArray hexIni(const char *group, const QList<std::pair<const char *, QString>> &keys)
{
    QByteArray ini = QByteArray("[") + group + "]\r\n";
    for (const auto &[key, value] : keys)
        ini += QByteArray(key) + "=" + ConfigManager::hexEncode(value).toLatin1() + "\r\n";
    return ini;
}

} // namespace

class tst_MainUI : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { MainUI::installFonts(); }
    void firstStartWithEmptyConfiguration();
    void formIsFixedWithItsTabOrder();
    void addReportShowsAndStoresTheTyping();
    void queryClearsAndWaitsForFinished();
    void refusedQueryKeepsButtonEnabled();
    void queryWithoutPortsSearchesAgain();
    void accessibleNames_data();
    void accessibleNames();
    void sectionPictureNamesFollowTheResult();
    void enterAddsAndPendingIsShown();
    void queryStatusAndFocus_data();
    void queryStatusAndFocus();
    void saveOutcomeIsShown_data();
    void saveOutcomeIsShown();
    void capacityFollowsBatteryStandard_data();
    void capacityFollowsBatteryStandard();
    void resultsReplaceTheirSlot();
    void docSettingButtonOpensModalDialog();
};

void tst_MainUI::firstStartWithEmptyConfiguration()
{
    UiTestEnvironment env;
    QVERIFY(env.isReady());
    env.writePictures();
    MainUI window;

    QCOMPARE(child<QLineEdit>(window, "customerEdit")->text(), QString());
    QCOMPARE(child<QLineEdit>(window, "batteryModelEdit")->text(), QString());
    QCOMPARE(text(window, "customerTextLabel"), QString());
    QCOMPARE(text(window, "batteryModelTextLabel"), QString());
    QCOMPARE(text(window, "dataTextLabel"), QStringLiteral("00-00-0000"));
    QCOMPARE(text(window, "registrationNoTextLabel"), QString());
    QCOMPARE(text(window, "capacityTextLabel"), QStringLiteral("0 CCA"));
    for (Section section : allSections) {
        const QString name = sectionName(section);
        const QString shown = text(window, name + "TextLabel");
        QVERIFY2(shown.contains(QStringLiteral("------")), qPrintable(name));
        QCOMPARE(shown, ReportText::sectionText(TestRecord{}, section, ReportText::Form::Screen));
        QCOMPARE(pictureColour(window, name + "ShowLabel"),
                 UiTestEnvironment::pictureColour(QStringLiteral("%1-0.png").arg(static_cast<int>(section))));
    }
    const std::pair<const char *, const char *> pictures[] = {
        {"usbLabel", "USB.png"},
        {"customerLabel", "Customer.png"},
        {"batteryModelLabel", "BatteryModel.png"},
        {"dataShowLabel", "Date.png"},
        {"customerShowLabel", "Customer.png"},
        {"registrationNoShowLabel", "RegistrationNo.png"},
        {"batteryModelShowLabel", "BatteryModel.png"},
        {"capacityShowLabel", "Capacity.png"},
    };
    for (const auto &[label, file] : pictures)
        QCOMPARE(pictureColour(window, label), UiTestEnvironment::pictureColour(file));
    for (const char *button :
         {"addReportButton", "docSettingButton", "queryDataButton", "printerButton", "saveAsButton"}) {
        auto *pushButton = child<QPushButton>(window, button);
        QVERIFY2(!pushButton->icon().isNull(), button);
        QCOMPARE(pushButton->iconSize(), QSize(130, 50));
        QCOMPARE(pushButton->text(), QString());
    }

    // The constructor's Add Report wrote all four keys, empty.
    for (const char *key : {"Customer", "RegistrationNo", "BatteryModel", "Capacity"}) {
        bool present = false;
        QCOMPARE(env.iniValue("Test Info", key, &present), QString());
        QVERIFY2(present, key);
    }
}

void tst_MainUI::formIsFixedWithItsTabOrder()
{
    UiTestEnvironment env;
    QVERIFY(env.isReady());
    MainUI window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QVERIFY(!(window.windowFlags() & Qt::WindowContextHelpButtonHint));
    QCOMPARE(window.minimumSize(), window.maximumSize());
    QCOMPARE(window.size(), window.minimumSize());

    const QStringList textLabels = {"dataTextLabel",         "customerTextLabel", "registrationNoTextLabel",
                                    "batteryModelTextLabel", "capacityTextLabel", "batteryTextLabel",
                                    "groundingTextLabel",    "starterTextLabel",  "charging3KTextLabel",
                                    "charging2KTextLabel",   "avg2KTextLabel"};
    for (const QString &name : textLabels)
        QCOMPARE(child<QLabel>(window, name)->width(), 180);

    const QStringList tabOrder = {"usbComboBox",     "customerEdit",     "batteryModelEdit",
                                  "addReportButton", "docSettingButton", "queryDataButton",
                                  "printerButton",   "saveAsButton"};
    QWidget *widget = child<QWidget>(window, tabOrder.first());
    QStringList walked;
    for (int step = 0; step < tabOrder.size(); ++step) {
        walked << widget->objectName();
        do {
            widget = widget->nextInFocusChain();
        } while (!(widget->focusPolicy() & Qt::TabFocus) && widget != &window);
    }
    QCOMPARE(walked, tabOrder);
    for (const QString &name : tabOrder)
        QCOMPARE(child<QWidget>(window, name)->contextMenuPolicy(), Qt::NoContextMenu);
}

void tst_MainUI::addReportShowsAndStoresTheTyping()
{
    UiTestEnvironment env({}, hexIni("Test Info", {{"Customer", QStringLiteral("李四")},
                                                   {"RegistrationNo", QStringLiteral("沪A5K308")},
                                                   {"BatteryModel", QStringLiteral("6-QW-60")},
                                                   {"Capacity", QStringLiteral("60Ah")}}));
    QVERIFY(env.isReady());
    MainUI window;
    QCOMPARE(child<QLineEdit>(window, "customerEdit")->text(), QStringLiteral("李四"));
    QCOMPARE(text(window, "customerTextLabel"), QStringLiteral("李四"));
    QCOMPARE(text(window, "batteryModelTextLabel"), QStringLiteral("6-QW-60"));
    QCOMPARE(env.iniValue("Test Info", "RegistrationNo"), QString());
    QCOMPARE(env.iniValue("Test Info", "Capacity"), QString());

    const QString typed = QStringLiteral("  王五 修理厂 ");
    child<QLineEdit>(window, "customerEdit")->setText(typed);
    QCOMPARE(text(window, "customerTextLabel"), QStringLiteral("李四"));
    QTest::mouseClick(child<QPushButton>(window, "addReportButton"), Qt::LeftButton);
    QCOMPARE(text(window, "customerTextLabel"), typed);
    QCOMPARE(env.iniValue("Test Info", "Customer"), typed);
    QCOMPARE(ConfigManager::instance()->testInfo().customer, typed);
}

void tst_MainUI::queryClearsAndWaitsForFinished()
{
    UiTestEnvironment env;
    QVERIFY(env.isReady());
    RecordingReceiver service;
    MainUI window;
    window.setServiceReceiver(&service);
    auto *ports = child<QComboBox>(window, "usbComboBox");
    ports->addItem(QStringLiteral("COM - 7"), 7);
    ports->addItem(QStringLiteral("COM - 12"), 12);
    ports->setCurrentIndex(1);

    auto battery = makeBatteryResult();
    battery.status = 1;
    battery.voltage = 1262;
    post(window, battery);
    auto date = makeTestDate();
    date.year = 2026;
    date.month = 3;
    date.day = 7;
    post(window, date);
    handlePosted();
    QVERIFY(text(window, "batteryTextLabel").contains(QStringLiteral("12.62")));

    auto *queryButton = child<QPushButton>(window, "queryDataButton");
    QTest::mouseClick(queryButton, Qt::LeftButton);
    QCOMPARE(service.messages.size(), 1);
    QueryDataRequest request;
    QCOMPARE(service.messages.first().size(), qsizetype(sizeof(request)));
    std::memcpy(&request, service.messages.first().constData(), sizeof(request));
    QCOMPARE(std::uint32_t(request.header.id), std::uint32_t(MSG_QUERY_DATA_REQUEST));
    QCOMPARE(std::uint32_t(request.header.size), std::uint32_t(10));
    QCOMPARE(std::uint16_t(request.portNumber), std::uint16_t(12)); // the entry's data, not its position

    QVERIFY(!queryButton->isEnabled());
    QVERIFY(text(window, "batteryTextLabel").contains(QStringLiteral("------")));
    QCOMPARE(text(window, "dataTextLabel"), QStringLiteral("00-00-0000"));
    QCOMPARE(std::uint16_t(window.testRecord().battery.voltage), std::uint16_t(0));

    // Results during the query show at once; only the end of the query enables the button.
    post(window, battery);
    handlePosted();
    QVERIFY(text(window, "batteryTextLabel").contains(QStringLiteral("12.62")));
    QVERIFY(!queryButton->isEnabled());
    post(window, makeMessage<QueryDataFinished>(MSG_QUERY_DATA_FINISHED));
    handlePosted();
    QVERIFY(queryButton->isEnabled());
}

void tst_MainUI::refusedQueryKeepsButtonEnabled()
{
    UiTestEnvironment env;
    QVERIFY(env.isReady());
    RecordingReceiver service;
    service.refuse = true;
    MainUI window;
    window.setServiceReceiver(&service);
    child<QComboBox>(window, "usbComboBox")->addItem(QStringLiteral("COM - 5"), 5);
    auto grounding = makeGroundingResult();
    grounding.status = 1;
    grounding.resistance = 125;
    post(window, grounding);
    handlePosted();

    auto *queryButton = child<QPushButton>(window, "queryDataButton");
    QTest::mouseClick(queryButton, Qt::LeftButton);
    QVERIFY(queryButton->isEnabled());
    QVERIFY(service.messages.isEmpty());
    // Nothing was started, so the results on screen stay.
    QVERIFY(text(window, "groundingTextLabel").contains(QStringLiteral("1.25")));

    const QStringList lines = env.runLogLines();
    QCOMPARE(lines.filter(QStringLiteral("MainUI Query Data request refused, Port:5")).size(), 1);
}

void tst_MainUI::queryWithoutPortsSearchesAgain()
{
    UiTestEnvironment env;
    QVERIFY(env.isReady());
    RecordingReceiver service;
    MainUI window; // no device exists in the tree: the search lists nothing
    window.setServiceReceiver(&service);
    auto *ports = child<QComboBox>(window, "usbComboBox");
    QCOMPARE(ports->count(), 0);
    QCOMPARE(ports->currentIndex(), -1);
    const QString noTester =
        QStringLiteral("No tester found. Check the cable; the user must be allowed to open "
                       "serial ports (group dialout).");
    QCOMPARE(window.statusText(), noTester);
    window.showStatus(QString());

    auto *queryButton = child<QPushButton>(window, "queryDataButton");
    QTest::mouseClick(queryButton, Qt::LeftButton);
    QTRY_VERIFY(!window.isSearchingPorts());
    QVERIFY(service.messages.isEmpty());
    QVERIFY(queryButton->isEnabled());
    QCOMPARE(window.statusText(), noTester);
    QCOMPARE(window.accessibleDescription(), noTester);
    QCOMPARE(env.runLogLines().filter(QStringLiteral("MainUI No tester found, Port Name:")).size(), 2);
}

void tst_MainUI::accessibleNames_data()
{
    QTest::addColumn<QString>("widget");
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("captionTip"); // its tooltip is the same caption
    const std::pair<const char *, const char *> captioned[] = {
        {"addReportButton", "Add to Report"},
        {"docSettingButton", "Doc Settings"},
        {"queryDataButton", "Query Data"},
        {"printerButton", "Print"},
        {"saveAsButton", "Save As"},
        {"historyButton", "History"},
        {"usbLabel", "USB Port"},
        {"customerLabel", "Customer"},
        {"batteryModelLabel", "Battery Model"},
        {"dataShowLabel", "Test Date"},
        {"customerShowLabel", "Customer"},
        {"registrationNoShowLabel", "Reg. No."},
        {"batteryModelShowLabel", "Battery Model"},
        {"capacityShowLabel", "Capacity"},
        {"batteryShowLabel", "Battery: no result"},
        {"groundingShowLabel", "Grounding: no result"},
        {"starterShowLabel", "Starter: no result"},
        {"charging3KShowLabel", "Charging 3K: no result"},
        {"charging2KShowLabel", "Charging 2K: no result"},
        {"avg2KShowLabel", "Average 2K: no result"},
    };
    for (const auto &[widget, name] : captioned)
        QTest::newRow(widget) << QString::fromLatin1(widget) << QString::fromLatin1(name) << true;
    QTest::newRow("usbComboBox") << QStringLiteral("usbComboBox") << QStringLiteral("Tester port") << false;
    QTest::newRow("customerEdit") << QStringLiteral("customerEdit") << QStringLiteral("Customer") << false;
    QTest::newRow("batteryModelEdit")
        << QStringLiteral("batteryModelEdit") << QStringLiteral("Battery model") << false;
    QTest::newRow("statusLabel") << QStringLiteral("statusLabel") << QStringLiteral("Status") << false;
}

void tst_MainUI::accessibleNames()
{
    QFETCH(QString, widget);
    QFETCH(QString, name);
    QFETCH(bool, captionTip);
    UiTestEnvironment env;
    QVERIFY(env.isReady());
    MainUI window;
    QWidget *found = child<QWidget>(window, widget);
    QCOMPARE(found->accessibleName(), name);
    if (captionTip)
        QCOMPARE(found->toolTip(), name);
}

void tst_MainUI::sectionPictureNamesFollowTheResult()
{
    UiTestEnvironment env;
    QVERIFY(env.isReady());
    MainUI window;
    auto battery = makeBatteryResult();
    battery.status = 4;
    post(window, battery);
    auto grounding = makeGroundingResult();
    grounding.status = 1;
    post(window, grounding);
    handlePosted();
    QCOMPARE(child<QLabel>(window, "batteryShowLabel")->accessibleName(), QStringLiteral("Battery: replace"));
    QCOMPARE(child<QLabel>(window, "groundingShowLabel")->accessibleName(),
             QStringLiteral("Grounding: pass"));
}

void tst_MainUI::enterAddsAndPendingIsShown()
{
    UiTestEnvironment env;
    QVERIFY(env.isReady());
    MainUI window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    auto *addButton = child<QPushButton>(window, "addReportButton");
    auto *customer = child<QLineEdit>(window, "customerEdit");
    auto *batteryModel = child<QLineEdit>(window, "batteryModelEdit");
    QVERIFY(!addButton->property("pending").toBool());

    // Typed but not added: the button says so, and the report keeps the old customer.
    customer->setFocus();
    QTest::keyClicks(customer, QStringLiteral("ACME"));
    QVERIFY(addButton->property("pending").toBool());
    QVERIFY(!addButton->styleSheet().isEmpty());
    QCOMPARE(addButton->accessibleDescription(),
             QStringLiteral("Customer or battery model typed but not added"));
    QCOMPARE(text(window, "customerTextLabel"), QString());
    QTest::keyClick(customer, Qt::Key_Return);
    QCOMPARE(text(window, "customerTextLabel"), QStringLiteral("ACME"));
    QCOMPARE(env.iniValue("Test Info", "Customer"), QStringLiteral("ACME"));
    QVERIFY(!addButton->property("pending").toBool());
    QVERIFY(addButton->styleSheet().isEmpty());

    batteryModel->setFocus();
    QTest::keyClicks(batteryModel, QStringLiteral("6-QW-60"));
    QVERIFY(addButton->property("pending").toBool());
    QTest::keyClick(batteryModel, Qt::Key_Enter);
    QCOMPARE(text(window, "batteryModelTextLabel"), QStringLiteral("6-QW-60"));
    QVERIFY(!addButton->property("pending").toBool());
}

void tst_MainUI::queryStatusAndFocus_data()
{
    QTest::addColumn<int>("answers"); // how many of the nine results carry data
    QTest::addColumn<QString>("status");
    QTest::newRow("every answer") << 9 << QStringLiteral("Test read");
    QTest::newRow("no answer") << 0 << QStringLiteral("Tester did not answer on COM - 12");
    QTest::newRow("some answers") << 1 << QStringLiteral("Test read");
}

void tst_MainUI::queryStatusAndFocus()
{
    QFETCH(int, answers);
    QFETCH(QString, status);
    UiTestEnvironment env;
    QVERIFY(env.isReady());
    RecordingReceiver service;
    MainUI window;
    window.setServiceReceiver(&service);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    auto *ports = child<QComboBox>(window, "usbComboBox");
    ports->addItem(QStringLiteral("COM - 12"), 12);
    auto *printButton = child<QPushButton>(window, "printerButton");
    printButton->setFocus();
    QTest::mouseClick(child<QPushButton>(window, "queryDataButton"), Qt::LeftButton);
    QCOMPARE(window.statusText(), QStringLiteral("Reading the tester on COM - 12..."));

    auto battery = makeBatteryResult();
    battery.status = answers > 0 ? 1 : 0;
    auto grounding = makeGroundingResult();
    grounding.status = answers > 1 ? 1 : 0;
    auto starter = makeStarterResult();
    starter.status = answers > 2 ? 1 : 0;
    auto charging3K = makeCharging3KResult();
    charging3K.status = answers > 3 ? 1 : 0;
    auto charging2K = makeCharging2KResult();
    charging2K.status = answers > 4 ? 1 : 0;
    auto avg2K = makeAvg2KResult();
    avg2K.status = answers > 5 ? 1 : 0;
    auto date = makeTestDate();
    date.year = answers > 6 ? 2026 : 0;
    auto registration = makeRegistrationNoInfo();
    registration.registrationNo[0] = answers > 7 ? 'A' : 0;
    auto capacity = makeCapacityInfo();
    capacity.capacity = answers > 8 ? 600 : 0;
    post(window, date);
    post(window, battery);
    handlePosted();
    QCOMPARE(window.statusText(), QStringLiteral("Reading the tester... 2 of 9"));
    post(window, grounding);
    post(window, starter);
    post(window, avg2K);
    post(window, charging3K);
    post(window, charging2K);
    post(window, registration);
    post(window, capacity);
    handlePosted();
    QCOMPARE(window.statusText(), QStringLiteral("Reading the tester... 9 of 9"));
    post(window, makeMessage<QueryDataFinished>(MSG_QUERY_DATA_FINISHED));
    handlePosted();
    QCOMPARE(window.statusText(), status);
    QCOMPARE(window.accessibleDescription(), status);
    // Space after a query must not print: the focus is back on Query Data.
    QCOMPARE(QApplication::focusWidget(), child<QWidget>(window, "queryDataButton"));
}

void tst_MainUI::saveOutcomeIsShown_data()
{
    QTest::addColumn<SaveOutcome>("outcome");
    QTest::addColumn<QString>("status");
    QTest::newRow("saved") << SaveOutcome::Saved << QStringLiteral("Saved report.docx");
    QTest::newRow("helper missing") << SaveOutcome::HelperMissing
                                    << QStringLiteral("Not saved: the document helper program is missing "
                                                      "(SaveDataProcess in main.ini)");
    QTest::newRow("helper not started") << SaveOutcome::HelperNotStarted
                                        << QStringLiteral("Not saved: the document helper program could not "
                                                          "be started");
    QTest::newRow("ended before the job") << SaveOutcome::EndedBeforeJob
                                          << QStringLiteral("Not saved: the document helper ended before it "
                                                            "took the report");
    QTest::newRow("ended while writing") << SaveOutcome::EndedWithoutResult
                                         << QStringLiteral("Not saved: the document helper ended while "
                                                           "writing the document");
    QTest::newRow("no result in time")
        << SaveOutcome::NoResultInTime
        << QStringLiteral("Not saved: the document helper gave no answer in time");
    QTest::newRow("closed without a document")
        << SaveOutcome::NotSaved
        << QStringLiteral("Not saved: the document helper could not write it (details in the Run log)");
}

void tst_MainUI::saveOutcomeIsShown()
{
    QFETCH(SaveOutcome, outcome);
    QFETCH(QString, status);
    UiTestEnvironment env;
    QVERIFY(env.isReady());
    MainUI window;
    const QString docPath = env.dir().path(QStringLiteral("report.docx"));
    auto message = makeMessage<SaveDataOutcome>(MSG_SAVE_DATA_OUTCOME);
    message.outcome = static_cast<std::uint32_t>(outcome);
    Codec::toField(docPath, message.docPath, sizeof(message.docPath));
    post(window, message);
    handlePosted();
    QCOMPARE(window.statusText(), status);
    QCOMPARE(child<QLabel>(window, "statusLabel")->toolTip(), docPath);
    QCOMPARE(window.accessibleDescription(), status);
}

void tst_MainUI::capacityFollowsBatteryStandard_data()
{
    QTest::addColumn<bool>("batteryFirst");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<QString>("afterShowAll");
    QTest::newRow("battery first") << true << "600 DIN"
                                   << "600 DIN";
    // The capacity is redrawn only by its own message or by showAll.
    QTest::newRow("capacity first") << false << "600 CCA"
                                    << "600 DIN";
}

void tst_MainUI::capacityFollowsBatteryStandard()
{
    QFETCH(bool, batteryFirst);
    QFETCH(QString, shown);
    QFETCH(QString, afterShowAll);
    UiTestEnvironment env;
    QVERIFY(env.isReady());
    MainUI window;
    auto battery = makeBatteryResult();
    battery.status = 1;
    battery.ratingStandard = 2;
    auto capacity = makeCapacityInfo();
    capacity.capacity = 600;
    if (batteryFirst) {
        post(window, battery);
        post(window, capacity);
    } else {
        post(window, capacity);
        post(window, battery);
    }
    handlePosted();
    QCOMPARE(text(window, "capacityTextLabel"), shown);
    window.showAll();
    QCOMPARE(text(window, "capacityTextLabel"), afterShowAll);
}

void tst_MainUI::resultsReplaceTheirSlot()
{
    UiTestEnvironment env;
    QVERIFY(env.isReady());
    env.writePictures();
    MainUI window;

    auto registration = makeRegistrationNoInfo();
    std::memcpy(registration.registrationNo, "ABCDEFGHIJKLMNOP", 16); // no zero byte: all 16 shown
    post(window, registration);
    auto avg2K = makeAvg2KResult();
    avg2K.status = 2;
    avg2K.voltage = 50;
    post(window, avg2K);
    handlePosted();
    QCOMPARE(text(window, "registrationNoTextLabel"), QStringLiteral("ABCDEFGHIJKLMNOP"));
    QCOMPARE(text(window, "avg2KTextLabel"), QStringLiteral("           0.50 V    **"));
    QCOMPARE(pictureColour(window, "avg2KShowLabel"), UiTestEnvironment::pictureColour("6-2.png"));

    // A message arriving again replaces the whole slot.
    const QByteArray gbk = Codec::toBytes(QStringLiteral("沪A5K308"));
    registration = makeRegistrationNoInfo();
    std::memcpy(registration.registrationNo, gbk.constData(), static_cast<size_t>(gbk.size()));
    post(window, registration);
    avg2K.status = 3;
    post(window, avg2K);
    // A message shorter than its kind is dropped instead of read past its end.
    auto shortBattery = makeBatteryResult();
    shortBattery.header.size = 12;
    shortBattery.status = 1;
    QVERIFY(window.postMessage(&shortBattery, 12));
    handlePosted();
    QCOMPARE(text(window, "registrationNoTextLabel"), QStringLiteral("沪A5K308"));
    QVERIFY(text(window, "avg2KTextLabel").contains(QStringLiteral("------")));
    QCOMPARE(pictureColour(window, "avg2KShowLabel"), UiTestEnvironment::pictureColour("6-0.png"));
    QCOMPARE(std::int16_t(window.testRecord().battery.status), std::int16_t(0));
    QCOMPARE(window.pendingMessages(), 0u);
}

void tst_MainUI::docSettingButtonOpensModalDialog()
{
    UiTestEnvironment env;
    QVERIFY(env.isReady());
    MainUI window;
    window.show();
    const QByteArray iniBefore = env.dir().readFile(QStringLiteral("Config/main.ini"));
    QString title;
    bool wasModal = false;
    QTimer::singleShot(0, this, [&] {
        QWidget *dialog = QApplication::activeModalWidget();
        if (!dialog)
            return;
        title = dialog->windowTitle();
        wasModal = dialog->isModal() && dialog->parentWidget() == &window;
        QTest::mouseClick(dialog->findChild<QPushButton *>(QStringLiteral("rejectButton")), Qt::LeftButton);
    });
    QTest::mouseClick(child<QPushButton>(window, "docSettingButton"), Qt::LeftButton);
    QCOMPARE(title, QStringLiteral("Doc Setting"));
    QVERIFY(wasModal);
    QCOMPARE(env.dir().readFile(QStringLiteral("Config/main.ini")), iniBefore);
}

QTEST_MAIN(tst_MainUI)
#include "tst_MainUI.moc"
