#include <QTest>

#include <cstring>
#include <memory>

#include <QTemporaryDir>

#include "Codec.h"
#include "ConfigManager.h"
#include "LogManager.h"
#include "MessageRecorder.h"
#include "ServiceManager.h"
#include "TestAppDir.h"
#include "TestRecord.h"
#include "TesterPort.h"
#include "TesterSim.h"

namespace {

template <typename M> QByteArray bytesOf(const M &message)
{
    return QByteArray(reinterpret_cast<const char *>(&message), sizeof(M));
}

// The results of tests/data/vehicle.json, written out by hand.
QList<QByteArray> vehicleResults()
{
    TestDate date = makeTestDate();
    date.year = 2026;
    date.month = 3;
    date.day = 7;
    BatteryResult battery = makeBatteryResult();
    battery.status = 1;
    battery.voltage = 1262;
    battery.measuredRating = 640;
    battery.ratingStandard = 0;
    battery.resistance = 458;
    battery.percent = 92;
    GroundingResult grounding = makeGroundingResult();
    grounding.status = 1;
    grounding.resistance = 125;
    StarterResult starter = makeStarterResult();
    starter.status = 1;
    starter.extraValue = 180;
    starter.crankingVoltage = 1043;
    Avg2KResult avg2K = makeAvg2KResult();
    avg2K.status = 1;
    avg2K.voltage = 12;
    Charging3KResult charging3K = makeCharging3KResult();
    charging3K.status = 1;
    charging3K.highVoltage = 1462;
    charging3K.lowVoltage = 1388;
    Charging2KResult charging2K = makeCharging2KResult();
    charging2K.status = 2;
    charging2K.highVoltage = 1341;
    charging2K.lowVoltage = 1286;
    RegistrationNoInfo registration = makeRegistrationNoInfo();
    const QByteArray plate = Codec::toBytes(u"沪A5K308");
    std::memcpy(registration.registrationNo, plate.constData(), size_t(plate.size()));
    CapacityInfo capacity = makeCapacityInfo();
    capacity.capacity = 700;
    return {bytesOf(date),       bytesOf(battery),    bytesOf(grounding),    bytesOf(starter), bytesOf(avg2K),
            bytesOf(charging3K), bytesOf(charging2K), bytesOf(registration), bytesOf(capacity)};
}

const QList<std::uint32_t> queryOrder = {
    MSG_TEST_DATE,     MSG_BATTERY_RESULT,     MSG_GROUNDING_RESULT,  MSG_STARTER_RESULT,
    MSG_AVG2K_RESULT,  MSG_CHARGING3K_RESULT,  MSG_CHARGING2K_RESULT, MSG_REGISTRATION_NO_INFO,
    MSG_CAPACITY_INFO, MSG_QUERY_DATA_FINISHED};

int countEndingWith(const QStringList &lines, const QString &text)
{
    int count = 0;
    for (const QString &line : lines)
        count += line.endsWith(text) ? 1 : 0;
    return count;
}

} // namespace

class tst_TesterQuery : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void cleanupTestCase();

    void healthyQuery();
    void portCannotBeOpened_data();
    void portCannotBeOpened();
    void silentTester();
    void silentAfterBatteryGroup();
    void faultyReply_data();
    void faultyReply();
    void badDevice_data();
    void badDevice();
    void deviceGoneEndsTheQuery_data();
    void deviceGoneEndsTheQuery();

private:
    QString link(int number) const { return m_links.path() + QStringLiteral("/ttyUSB%1").arg(number); }
    void query(int number);
    // Stops the run log (which writes everything out) and returns the lines written since init().
    QStringList newLines(const QString &category);

    std::unique_ptr<TestAppDir> m_app;
    QTemporaryDir m_links;
    MessageRecorder m_window;
    ServiceManager m_service;
    qsizetype m_runLinesBefore = 0;
    qsizetype m_debugLinesBefore = 0;
};

void tst_TesterQuery::initTestCase()
{
    QVERIFY(QFileInfo::exists(TesterSim::program()));
    QVERIFY(m_links.isValid());
    m_app = std::make_unique<TestAppDir>();
    // Generous read window: the shared test machine may be slow to schedule the simulator.
    const QByteArray ini =
        "[Basic]\r\nQueryDataTimeout=100\r\nSerialPortName=" + m_links.path().toLocal8Bit() + "/ttyUSB%1\r\n";
    QVERIFY(m_app->writeFile(QStringLiteral("Config/main.ini"), ini));
    QVERIFY(ConfigManager::instance()->initialize());
    QVERIFY(ConfigManager::instance()->active());
    QCOMPARE(ConfigManager::instance()->serialPortName(), link(0).chopped(1) + QStringLiteral("%1"));
    QVERIFY(LogManager::instance()->initialize());
    m_service.setWindowReceiver(&m_window);
    QVERIFY(m_service.initialize());
    QVERIFY(m_service.active());
}

void tst_TesterQuery::init()
{
    m_runLinesBefore = m_app->logLines(QStringLiteral("Run")).size();
    m_debugLinesBefore = m_app->logLines(QStringLiteral("Debug")).size();
    QVERIFY(LogManager::instance()->active());
    m_window.clear();
}

void tst_TesterQuery::cleanup()
{
    LogManager::instance()->deactive();
}

void tst_TesterQuery::cleanupTestCase()
{
    QVERIFY(m_service.deactive());
    QVERIFY(m_service.exit());
    ConfigManager::instance()->deactive();
    ConfigManager::instance()->exit();
    LogManager::instance()->exit();
    m_app.reset();
}

void tst_TesterQuery::query(int number)
{
    auto request = makeMessage<QueryDataRequest>(MSG_QUERY_DATA_REQUEST);
    request.portNumber = static_cast<std::uint16_t>(number);
    QVERIFY(m_service.postMessage(&request, sizeof(request)));
    QTRY_VERIFY_WITH_TIMEOUT(m_window.contains(MSG_QUERY_DATA_FINISHED), 60000);
}

QStringList tst_TesterQuery::newLines(const QString &category)
{
    LogManager::instance()->deactive();
    const qsizetype before = category == QLatin1String("Run") ? m_runLinesBefore : m_debugLinesBefore;
    return m_app->logLines(category).mid(before);
}

void tst_TesterQuery::healthyQuery()
{
    TesterSim sim;
    QVERIFY2(sim.start(link(3), {QStringLiteral("--no-pacing")}), qPrintable(sim.errorText()));
    query(3);

    QCOMPARE(m_window.ids(), queryOrder);
    const QList<QByteArray> expected = vehicleResults();
    const QList<QByteArray> received = m_window.messages();
    for (int i = 0; i < expected.size(); ++i)
        QCOMPARE(received.at(i).toHex(' '), expected.at(i).toHex(' '));

    const QStringList run = newLines(QStringLiteral("Run"));
    QCOMPARE(countEndingWith(run, QStringLiteral("Port:") + link(3)), 0);
    const QStringList debug = newLines(QStringLiteral("Debug"));
    QCOMPARE(
        countEndingWith(
            debug, QStringLiteral("Write Serial Port Data, Port:%1, Data: 55 03 07 01 60 ").arg(link(3))),
        1);
    int writes = 0;
    int reads = 0;
    for (const QString &line : debug) {
        writes += line.contains(QStringLiteral("Write Serial Port Data, Port:") + link(3)) ? 1 : 0;
        reads += line.contains(QStringLiteral("Read Serial Port Data, Port:") + link(3)) ? 1 : 0;
    }
    QCOMPARE(writes, 21);
    QCOMPARE(reads, 21);
    // The registration reply, 21 bytes, arrives whole.
    QVERIFY(
        debug.filter(QStringLiteral("Read Serial Port Data")).filter(QStringLiteral("aa 13 08 01 ")).size() ==
        1);
}

void tst_TesterQuery::portCannotBeOpened_data()
{
    QTest::addColumn<bool>("holdOpen");
    QTest::newRow("no device") << false;
    QTest::newRow("device already open") << true;
}

void tst_TesterQuery::portCannotBeOpened()
{
    QFETCH(bool, holdOpen);
    TesterSim sim;
    std::unique_ptr<TesterPort> holder;
    if (holdOpen) {
        QVERIFY2(sim.start(link(4), {QStringLiteral("--no-pacing")}), qPrintable(sim.errorText()));
        holder = openTesterPort(ConfigManager::instance()->serialPortName(), 4, 10);
        QVERIFY(holder);
    }
    query(4);
    QCOMPARE(m_window.ids(), QList<std::uint32_t>{MSG_QUERY_DATA_FINISHED});
    const QStringList run = newLines(QStringLiteral("Run"));
    QCOMPARE(countEndingWith(run, QStringLiteral("Open Serial Port failed, Port:") + link(4)), 1);
    QCOMPARE(run.filter(link(4)).size(), 1);
}

void tst_TesterQuery::silentTester()
{
    TesterSim sim;
    QVERIFY2(sim.start(link(5), {QStringLiteral("--no-pacing"), QStringLiteral("--silent-after"),
                                 QStringLiteral("0")}),
             qPrintable(sim.errorText()));
    query(5);

    QCOMPARE(m_window.ids(), queryOrder);
    const QList<QByteArray> received = m_window.messages();
    for (int i = 0; i < 9; ++i)
        QCOMPARE(received.at(i).mid(8), QByteArray(received.at(i).size() - 8, '\0'));

    const QStringList run = newLines(QStringLiteral("Run"));
    QCOMPARE(countEndingWith(run, QStringLiteral("Serial Port Communication Error, Port:") + link(5)), 9);
    QCOMPARE(run.filter(link(5)).size(), 9);
    const QStringList debug = newLines(QStringLiteral("Debug"));
    QCOMPARE(debug.filter(QStringLiteral("Write Serial Port Data, Port:") + link(5)).size(), 9);
    QCOMPARE(countEndingWith(debug, QStringLiteral("Read Serial Port Data, Port:%1, Data: ").arg(link(5))),
             9);
    // The first exchange of every message, each a fresh request.
    const QStringList firstRequests = {"55 03 07 01 60 ", "55 03 01 05 5e ", "55 03 02 01 5b ",
                                       "55 03 03 03 5e ", "55 03 06 02 60 ", "55 03 04 03 5f ",
                                       "55 03 05 03 60 ", "55 03 08 01 61 ", "55 03 09 01 62 "};
    const QStringList writes = debug.filter(QStringLiteral("Write Serial Port Data"));
    for (int i = 0; i < firstRequests.size(); ++i)
        QVERIFY2(writes.at(i).endsWith(firstRequests.at(i)), qPrintable(writes.at(i)));
}

void tst_TesterQuery::silentAfterBatteryGroup()
{
    TesterSim sim;
    // The date is one request and the battery group five.
    QVERIFY2(sim.start(link(6), {QStringLiteral("--no-pacing"), QStringLiteral("--silent-after"),
                                 QStringLiteral("6")}),
             qPrintable(sim.errorText()));
    query(6);

    QCOMPARE(m_window.ids(), queryOrder);
    const QList<QByteArray> expected = vehicleResults();
    const QList<QByteArray> received = m_window.messages();
    QCOMPARE(received.at(0), expected.at(0));
    QCOMPARE(received.at(1), expected.at(1));
    for (int i = 2; i < 9; ++i)
        QCOMPARE(received.at(i).mid(8), QByteArray(received.at(i).size() - 8, '\0'));
    const QStringList run = newLines(QStringLiteral("Run"));
    QCOMPARE(countEndingWith(run, QStringLiteral("Serial Port Communication Error, Port:") + link(6)), 7);
}

// The vehicle's results with some messages replaced.
static QList<QByteArray> vehicleWith(const QList<std::pair<int, QByteArray>> &changes)
{
    QList<QByteArray> results = vehicleResults();
    for (const auto &[index, bytes] : changes)
        results[index] = bytes;
    return results;
}

void tst_TesterQuery::faultyReply_data()
{
    QTest::addColumn<QByteArray>("faults");
    QTest::addColumn<QList<QByteArray>>("results");
    QTest::addColumn<QStringList>("runLines"); // in order, %1: port name; nothing else is logged
    QTest::addColumn<QString>("debugLine");    // %1: port name; empty: none looked for

    const QString dataError = QStringLiteral("Serial Port Data Error, Port:%1");
    const QString communicationError = QStringLiteral("Serial Port Communication Error, Port:%1");
    TestDate date = makeTestDate();
    QTest::newRow("date: start byte 55")
        << QByteArray(R"({"7,1": {"kind": "startByte"}})") << vehicleWith({{0, bytesOf(date)}})
        << QStringList{dataError} << QString();
    GroundingResult grounding = makeGroundingResult();
    QTest::newRow("grounding value: wrong checksum")
        << QByteArray(R"({"2,2": {"kind": "checksum"}})") << vehicleWith({{2, bytesOf(grounding)}})
        << QStringList{dataError} << QString();
    // The query does not check the length byte; only the port search does. Its reply is shorter
    // than the byte says, so it ends at the time-out and the line is let fall silent after it.
    QTest::newRow("battery status: length byte 11") << QByteArray(R"({"1,5": {"kind": "lengthByte11"}})")
                                                    << vehicleResults() << QStringList() << QString();
    BatteryResult battery = makeBatteryResult();
    battery.voltage = 1262;
    QTest::newRow("battery rating: frame without data")
        << QByteArray(R"({"1,2": {"kind": "short"}})") << vehicleWith({{1, bytesOf(battery)}})
        << QStringList{QStringLiteral("Serial Port Data too short, Port:%1, Size:5")} << QString();
    // The reply is complete by its length; what follows it is dropped, and shown in the debug log.
    QTest::newRow("starter voltage: extra trailing bytes")
        << QByteArray(R"({"3,2": {"kind": "extra"}})") << vehicleResults() << QStringList()
        << QStringLiteral("Discard Serial Port Data, Port:%1, Data: 5a 5a 5a ");
    CapacityInfo capacity = makeCapacityInfo();
    QTest::newRow("capacity: two bytes only")
        << QByteArray(R"({"9,1": {"kind": "truncated"}})") << vehicleWith({{8, bytesOf(capacity)}})
        << QStringList{communicationError} << QString();
    QTest::newRow("capacity: later than the time-out")
        << QByteArray(R"({"9,1": {"kind": "delay", "value": 1500}})") << vehicleWith({{8, bytesOf(capacity)}})
        << QStringList{communicationError} << QString();
    Avg2KResult avg2K = makeAvg2KResult();
    QTest::newRow("avg2K status silent")
        << QByteArray(R"({"6,2": {"kind": "silent"}})") << vehicleWith({{4, bytesOf(avg2K)}})
        << QStringList{communicationError} << QString();
    // The tester answers the starter status after the read window (100 ms) and then leaves the
    // avg2K status unanswered: its late starter status (1, PASS) must not become avg2K's.
    StarterResult starter = makeStarterResult();
    QTest::newRow("starter status late, avg2K status unanswered")
        << QByteArray(R"({"3,3": {"kind": "delay", "value": 180}, "6,2": {"kind": "silent"}})")
        << vehicleWith({{3, bytesOf(starter)}, {4, bytesOf(avg2K)}})
        << QStringList{communicationError, communicationError}
        << QStringLiteral("Discard Serial Port Data, Port:%1, Data: aa 04 03 03 01 b5 ");
    // The rest of a reply that stalls past the read window must not become the next reply.
    QTest::newRow("date: rest of the reply after 150 ms")
        << QByteArray(R"({"7,1": {"kind": "split", "value": 150, "at": 3}})")
        << vehicleWith({{0, bytesOf(date)}}) << QStringList{dataError}
        << QStringLiteral("Discard Serial Port Data, Port:%1, Data: 01 07 03 1a dc ");
    QTest::newRow("registration: bytes 30 ms apart")
        << QByteArray(R"({"8,1": {"kind": "split", "value": 30}})") << vehicleResults() << QStringList()
        << QString();
}

void tst_TesterQuery::faultyReply()
{
    QFETCH(QByteArray, faults);
    QFETCH(QList<QByteArray>, results);
    QFETCH(QStringList, runLines);
    QFETCH(QString, debugLine);

    QFile vehicle(QFINDTESTDATA("../data/vehicle.json"));
    QVERIFY(vehicle.open(QIODevice::ReadOnly));
    QByteArray json = vehicle.readAll().trimmed();
    json.chop(1);
    json += ", \"faults\": " + faults + "}";
    const QString scenario = writeScenario(m_links.path(), QStringLiteral("faulty.json"), json);
    QVERIFY(!scenario.isEmpty());

    TesterSim sim;
    QVERIFY2(sim.start(link(7), {QStringLiteral("--no-pacing"), QStringLiteral("--scenario"), scenario}),
             qPrintable(sim.errorText()));
    query(7);

    QCOMPARE(m_window.ids(), queryOrder);
    const QList<QByteArray> received = m_window.messages();
    const QStringList run = newLines(QStringLiteral("Run")).filter(link(7));
    for (int i = 0; i < results.size(); ++i) {
        if (received.at(i) != results.at(i))
            qWarning() << run;
        QCOMPARE(received.at(i).toHex(' '), results.at(i).toHex(' '));
    }
    QCOMPARE(run.size(), runLines.size());
    for (int i = 0; i < runLines.size(); ++i)
        QVERIFY2(run.at(i).endsWith(runLines.at(i).arg(link(7))), qPrintable(run.at(i)));
    if (!debugLine.isEmpty()) {
        const QStringList debug = newLines(QStringLiteral("Debug"));
        QVERIFY2(countEndingWith(debug, debugLine.arg(link(7))) == 1,
                 qPrintable(debug.filter(link(7)).join(QLatin1Char('\n'))));
    }
}

void tst_TesterQuery::badDevice_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QString>("logLine");
    QTest::newRow("random bytes for every request")
        << QStringList{QStringLiteral("--mode"), QStringLiteral("garbage")} << QString();
    QTest::newRow("endless stream of bytes")
        << QStringList{QStringLiteral("--mode"), QStringLiteral("endless")}
        << QStringLiteral("Read Serial Port Data too long, Port:%1, Kept Bytes:10240");
}

void tst_TesterQuery::badDevice()
{
    QFETCH(QStringList, options);
    QFETCH(QString, logLine);
    TesterSim sim;
    QVERIFY2(sim.start(link(8), QStringList{QStringLiteral("--no-pacing")} + options),
             qPrintable(sim.errorText()));
    query(8);
    QCOMPARE(m_window.ids(), queryOrder);
    sim.stop();
    const QStringList run = newLines(QStringLiteral("Run")).filter(link(8));
    QVERIFY(!run.isEmpty());
    if (!logLine.isEmpty())
        QVERIFY(countEndingWith(run, logLine.arg(link(8))) >= 1);
}

void tst_TesterQuery::deviceGoneEndsTheQuery_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QByteArray>("faults");
    QTest::addColumn<int>("requests"); // the requests the tester received before it went away
    QTest::newRow("unplugged after three requests")
        << QStringList{QStringLiteral("--vanish-after"), QStringLiteral("3")} << QByteArray("{}") << 3;
    // Date, five battery requests, grounding status and then half of the grounding value.
    QTest::newRow("unplugged in the middle of a reply")
        << QStringList() << QByteArray(R"({"2,2": {"kind": "vanish", "value": 3}})") << 8;
}

// An unplugged tester ends the query: one line says why, nothing more is written to the port, and
// the window still gets every message and the end of the query.
void tst_TesterQuery::deviceGoneEndsTheQuery()
{
    QFETCH(QStringList, options);
    QFETCH(QByteArray, faults);
    QFETCH(int, requests);

    QFile vehicle(QFINDTESTDATA("../data/vehicle.json"));
    QVERIFY(vehicle.open(QIODevice::ReadOnly));
    QByteArray json = vehicle.readAll().trimmed();
    json.chop(1);
    json += ", \"faults\": " + faults + "}";
    const QString scenario = writeScenario(m_links.path(), QStringLiteral("gone.json"), json);
    QVERIFY(!scenario.isEmpty());
    TesterSim sim;
    QVERIFY2(sim.start(link(9),
                       QStringList{QStringLiteral("--no-pacing"), QStringLiteral("--scenario"), scenario} +
                           options),
             qPrintable(sim.errorText()));
    query(9);
    QCOMPARE(m_window.ids(), queryOrder);
    sim.stop();
    QCOMPARE(sim.log().count("request 55"), requests);

    const QStringList run = newLines(QStringLiteral("Run")).filter(link(9));
    QVERIFY2(run.size() == 1 && run.first().contains(
                                    QStringLiteral("Serial Port Device Gone, Port:%1, Reason:").arg(link(9))),
             qPrintable(run.join(QLatin1Char('\n'))));
    qInfo() << run.first();
    // The request after the tester's last answer may still reach the line before the device node
    // goes (the simulator takes a moment to go away); nothing after the unplug is written.
    const QStringList debug = newLines(QStringLiteral("Debug"));
    const qsizetype writes = debug.filter(QStringLiteral("Write Serial Port Data, Port:") + link(9)).size();
    QVERIFY2(writes == requests || writes == requests + 1,
             qPrintable(QStringLiteral("%1 requests written, the tester took %2").arg(writes).arg(requests)));
}

QTEST_GUILESS_MAIN(tst_TesterQuery)
#include "tst_TesterQuery.moc"
