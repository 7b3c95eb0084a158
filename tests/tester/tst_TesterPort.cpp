#include <QTest>

#include <atomic>
#include <memory>
#include <thread>

#include <QElapsedTimer>
#include <QRegularExpression>
#include <QTemporaryDir>

#include "LogManager.h"
#include "TestAppDir.h"
#include "TesterExchange.h"
#include "TesterPort.h"
#include "TesterPortSearch.h"
#include "TesterProtocol.h"
#include "TesterSim.h"

class tst_TesterPort : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void cleanupTestCase();

    void portNames_data();
    void portNames();
    void openFailsForMissingOrBusyPort();
    void exchangeOnRealPort();
    void malformedRequestIsNotSent();
    void readCap_data();
    void readCap();
    void stopCutsAWaitShort_data();
    void stopCutsAWaitShort();
    void scanListsAnsweringTesters();

private:
    QString pattern() const { return m_links.path() + QStringLiteral("/ttyUSB%1"); }
    QString link(int number) const { return portName(pattern(), number); }
    QStringList newLines(const QString &category);

    std::unique_ptr<TestAppDir> m_app;
    QTemporaryDir m_links;
    qsizetype m_runBefore = 0;
    qsizetype m_debugBefore = 0;
};

// Generous: the shared test machine may be slow to schedule the simulator.
constexpr int readWindow = 100;

void tst_TesterPort::initTestCase()
{
    QVERIFY(QFileInfo::exists(TesterSim::program()));
    QVERIFY(m_links.isValid());
    m_app = std::make_unique<TestAppDir>();
    QVERIFY(LogManager::instance()->initialize());
}

void tst_TesterPort::init()
{
    m_runBefore = m_app->logLines(QStringLiteral("Run")).size();
    m_debugBefore = m_app->logLines(QStringLiteral("Debug")).size();
    QVERIFY(LogManager::instance()->active());
}

void tst_TesterPort::cleanup()
{
    LogManager::instance()->deactive();
}

void tst_TesterPort::cleanupTestCase()
{
    LogManager::instance()->exit();
    m_app.reset();
}

QStringList tst_TesterPort::newLines(const QString &category)
{
    LogManager::instance()->deactive();
    return m_app->logLines(category).mid(category == QLatin1String("Run") ? m_runBefore : m_debugBefore);
}

void tst_TesterPort::portNames_data()
{
    QTest::addColumn<QString>("pattern");
    QTest::addColumn<int>("number");
    QTest::addColumn<QString>("name");
    QTest::newRow("COM 3") << QStringLiteral("\\\\.\\COM%1") << 3 << QStringLiteral("\\\\.\\COM3");
    QTest::newRow("COM 12, no leading zero")
        << QStringLiteral("\\\\.\\COM%1") << 12 << QStringLiteral("\\\\.\\COM12");
    QTest::newRow("COM 0") << QStringLiteral("\\\\.\\COM%1") << 0 << QStringLiteral("\\\\.\\COM0");
    QTest::newRow("device path") << QStringLiteral("/dev/ttyUSB%1") << 99 << QStringLiteral("/dev/ttyUSB99");
}

void tst_TesterPort::portNames()
{
    QFETCH(QString, pattern);
    QFETCH(int, number);
    QFETCH(QString, name);
    QCOMPARE(portName(pattern, number), name);
}

void tst_TesterPort::openFailsForMissingOrBusyPort()
{
    QVERIFY(!openTesterPort(pattern(), 20, readWindow));

    TesterSim sim;
    QVERIFY2(sim.start(link(20), {QStringLiteral("--no-pacing")}), qPrintable(sim.errorText()));
    std::unique_ptr<TesterPort> first = openTesterPort(pattern(), 20, readWindow);
    QVERIFY(first);
    QCOMPARE(first->name(), link(20));
    // Access is exclusive: a second open of the same device fails while the first is open.
    QVERIFY(!openTesterPort(pattern(), 20, readWindow));
    first.reset();
    QVERIFY(openTesterPort(pattern(), 20, readWindow));

    // A stopped simulator takes its link away.
    sim.stop();
    QVERIFY(!QFileInfo(link(20)).isSymLink());
    QVERIFY(!openTesterPort(pattern(), 20, readWindow));
}

void tst_TesterPort::exchangeOnRealPort()
{
    TesterSim sim;
    QVERIFY2(sim.start(link(21), {QStringLiteral("--no-pacing")}), qPrintable(sim.errorText()));
    std::unique_ptr<TesterPort> port = openTesterPort(pattern(), 21, readWindow);
    QVERIFY(port);

    QByteArray request = TesterProtocol::request(7, 1);
    QByteArray reply("stale");
    QVERIFY(exchangeFrame(*port, request, reply));
    QVERIFY(request.isEmpty());
    QCOMPARE(reply.toHex(' '), QByteArray("aa 06 07 01 07 03 1a dc"));

    // The caller appends the next request to the emptied buffer.
    request.append(TesterProtocol::request(1, 5));
    QVERIFY(probeExchange(*port, request, reply));
    QCOMPARE(reply.toHex(' '), QByteArray("aa 04 01 05 01 b5"));

    const QStringList debug = newLines(QStringLiteral("Debug"));
    const QStringList dumps = debug.filter(QStringLiteral("Serial Port Data, Port:") + link(21));
    // The probe writes no dumps.
    QCOMPARE(dumps.size(), 2);
    QVERIFY(dumps.at(0).endsWith(
        QStringLiteral("Write Serial Port Data, Port:%1, Data: 55 03 07 01 60 ").arg(link(21))));
    QVERIFY(dumps.at(1).endsWith(
        QStringLiteral("Read Serial Port Data, Port:%1, Data: aa 06 07 01 07 03 1a dc ").arg(link(21))));
    QCOMPARE(newLines(QStringLiteral("Run")).filter(link(21)), QStringList());
}

void tst_TesterPort::malformedRequestIsNotSent()
{
    TesterSim sim;
    QVERIFY2(sim.start(link(22), {QStringLiteral("--no-pacing")}), qPrintable(sim.errorText()));
    std::unique_ptr<TesterPort> port = openTesterPort(pattern(), 22, readWindow);
    QVERIFY(port);

    // A frame left over from a failed exchange with the next request behind it.
    QByteArray request = QByteArray::fromHex("550301055e") + TesterProtocol::request(1, 1);
    const QByteArray before = request;
    QByteArray reply("untouched");
    QVERIFY(!exchangeFrame(*port, request, reply));
    QCOMPARE(request, before);
    QCOMPARE(reply, QByteArray("untouched"));
    port.reset();
    sim.stop();
    QVERIFY2(!sim.log().contains("request"), sim.log().constData());

    const QStringList run = newLines(QStringLiteral("Run")).filter(link(22));
    QCOMPARE(run.size(), 1);
    QVERIFY(run.first().endsWith(QStringLiteral("Write Serial Port failed, Req Error, Port:") + link(22)));
    QCOMPARE(newLines(QStringLiteral("Debug")).filter(link(22)), QStringList());
}

void tst_TesterPort::readCap_data()
{
    QTest::addColumn<int>("sent");
    QTest::addColumn<bool>("tooLong");
    QTest::newRow("one byte under the cap") << int(TesterPort::maxReplyBytes - 1) << false;
    QTest::newRow("exactly the cap") << int(TesterPort::maxReplyBytes) << true;
    QTest::newRow("one byte over the cap") << int(TesterPort::maxReplyBytes + 1) << true;
}

// A reply without a frame is read until the line falls silent, but never past the cap; reaching
// the cap is always logged.
void tst_TesterPort::readCap()
{
    QFETCH(int, sent);
    QFETCH(bool, tooLong);
    const QString scenario = writeScenario(
        m_links.path(), QStringLiteral("noise.json"),
        QStringLiteral(R"({"faults": {"7,1": {"kind": "noise", "value": %1}}})").arg(sent).toUtf8());
    QVERIFY(!scenario.isEmpty());
    TesterSim sim;
    QVERIFY2(sim.start(link(23), {QStringLiteral("--no-pacing"), QStringLiteral("--scenario"), scenario}),
             qPrintable(sim.errorText()));
    std::unique_ptr<TesterPort> port = openTesterPort(pattern(), 23, readWindow);
    QVERIFY(port);

    QByteArray request = TesterProtocol::request(7, 1);
    QByteArray reply;
    QVERIFY(!exchangeFrame(*port, request, reply));
    QCOMPARE(reply.size(), qMin<qsizetype>(sent, TesterPort::maxReplyBytes));
    QCOMPARE(reply.at(0), '\0');
    QCOMPARE(static_cast<unsigned char>(reply.back()), static_cast<unsigned char>((reply.size() - 1) & 0xFF));

    const QStringList run = newLines(QStringLiteral("Run")).filter(link(23));
    QStringList expected;
    if (tooLong)
        expected << QStringLiteral("Read Serial Port Data too long, Port:%1, Kept Bytes:10240").arg(link(23));
    expected << QStringLiteral("Serial Port Data Error, Port:%1").arg(link(23));
    QCOMPARE(run.size(), expected.size());
    for (qsizetype i = 0; i < expected.size(); ++i)
        QVERIFY2(run.at(i).endsWith(expected.at(i)), qPrintable(run.at(i)));
}

void tst_TesterPort::stopCutsAWaitShort_data()
{
    QTest::addColumn<QByteArray>("faults");
    QTest::newRow("waiting for the first byte") << QByteArray(R"({"7,1": {"kind": "silent"}})");
    QTest::newRow("waiting inside a reply")
        << QByteArray(R"({"7,1": {"kind": "split", "value": 60000, "at": 3}})");
}

// With the longest time-out (3600 ms) a stop request still ends the exchange at once, and the port
// does nothing more afterwards.
void tst_TesterPort::stopCutsAWaitShort()
{
    QFETCH(QByteArray, faults);
    const QString scenario =
        writeScenario(m_links.path(), QStringLiteral("stop.json"), R"({"faults": )" + faults + "}");
    QVERIFY(!scenario.isEmpty());
    TesterSim sim;
    QVERIFY2(sim.start(link(24), {QStringLiteral("--no-pacing"), QStringLiteral("--scenario"), scenario}),
             qPrintable(sim.errorText()));
    std::unique_ptr<TesterPort> port = openTesterPort(pattern(), 24, 3600);
    QVERIFY(port);
    std::atomic<bool> stop{false};
    port->setStopFlag(&stop);

    QElapsedTimer clock;
    std::thread stopper([&stop] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        stop.store(true);
    });
    clock.start();
    QByteArray request = TesterProtocol::request(7, 1);
    QByteArray reply;
    const bool answered = exchangeFrame(*port, request, reply);
    const qint64 elapsed = clock.elapsed();
    stopper.join();
    QVERIFY(!answered);
    QCOMPARE(port->state(), TesterPort::State::Stopped);
    // Without the stop the exchange would wait 3600 ms for the next byte.
    QVERIFY2(elapsed < 1500, qPrintable(QString::number(elapsed)));
    qInfo("exchange ended %lld ms after it began, the stop came after 300 ms", elapsed);

    request = TesterProtocol::request(1, 5);
    QVERIFY(!exchangeFrame(*port, request, reply));
    port.reset();
    sim.stop();
    QCOMPARE(sim.log().count("request 55"), 1);
    QCOMPARE(newLines(QStringLiteral("Run")).filter(link(24)), QStringList());
}

void tst_TesterPort::scanListsAnsweringTesters()
{
    const QString lengthByte11 =
        writeScenario(m_links.path(), QStringLiteral("length11.json"),
                      R"({"battery": {"status": 1}, "faults": {"1,5": {"kind": "lengthByte11"}}})");
    QVERIFY(!lengthByte11.isEmpty());
    // Created out of order: the list is in port order, not in order of appearance.
    TesterSim twelve, three, silent, refused;
    QVERIFY2(twelve.start(link(12), {QStringLiteral("--no-pacing")}), qPrintable(twelve.errorText()));
    QVERIFY2(three.start(link(3), {QStringLiteral("--no-pacing")}), qPrintable(three.errorText()));
    QVERIFY2(silent.start(link(5), {QStringLiteral("--silent-after"), QStringLiteral("0")}),
             qPrintable(silent.errorText()));
    QVERIFY2(
        refused.start(link(7), {QStringLiteral("--no-pacing"), QStringLiteral("--scenario"), lengthByte11}),
        qPrintable(refused.errorText()));

    QCOMPARE(scanTesterPorts(pattern(), readWindow), (QList<int>{3, 12}));

    const QStringList run = newLines(QStringLiteral("Run"));
    const auto linesOf = [&run, this](int number) {
        return run.filter(
            QRegularExpression(QStringLiteral("Port:%1$").arg(QRegularExpression::escape(link(number)))));
    };
    QCOMPARE(linesOf(3), QStringList());
    QCOMPARE(linesOf(12), QStringList());
    for (int number : {5, 7}) {
        const QStringList lines = linesOf(number);
        QCOMPARE(lines.size(), 1);
        QVERIFY(
            lines.first().endsWith(QStringLiteral("Serial Port Communication Error, Port:") + link(number)));
    }
    // Every answering port was asked the battery status once, and nothing else.
    twelve.stop();
    QCOMPARE(twelve.log().count("request 55 03 01 05 5e"), 1);
    QCOMPARE(twelve.log().count("request"), 1);
}

QTEST_GUILESS_MAIN(tst_TesterPort)
#include "tst_TesterPort.moc"
