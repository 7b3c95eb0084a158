#include <QTest>

#include <memory>

#include <QElapsedTimer>
#include <QTemporaryDir>

#include "ConfigManager.h"
#include "LogManager.h"
#include "MessageRecorder.h"
#include "ServiceManager.h"
#include "TestAppDir.h"
#include "TestRecord.h"
#include "TesterPort.h"
#include "TesterSim.h"

// Stopping the service manager (a SIGTERM or a logout ends the event loop and walks the managers)
// while a query waits on the tester with the longest time-out, 3600 ms.
class tst_ServiceManagerStop : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void stopDuringQuery_data();
    void stopDuringQuery();

private:
    QString link(int number) const { return m_links.path() + QStringLiteral("/ttyUSB%1").arg(number); }

    std::unique_ptr<TestAppDir> m_app;
    QTemporaryDir m_links;
};

void tst_ServiceManagerStop::initTestCase()
{
    QVERIFY(QFileInfo::exists(TesterSim::program()));
    QVERIFY(m_links.isValid());
    m_app = std::make_unique<TestAppDir>();
    const QByteArray ini =
        "[Basic]\r\nQueryDataTimeout=3600\r\nSerialPortName=" + m_links.path().toLocal8Bit() +
        "/ttyUSB%1\r\n";
    QVERIFY(m_app->writeFile(QStringLiteral("Config/main.ini"), ini));
    QVERIFY(ConfigManager::instance()->initialize());
    QVERIFY(ConfigManager::instance()->active());
    QCOMPARE(ConfigManager::instance()->queryDataTimeout(), 3600);
    QVERIFY(LogManager::instance()->initialize());
    QVERIFY(LogManager::instance()->active());
}

void tst_ServiceManagerStop::cleanupTestCase()
{
    ConfigManager::instance()->deactive();
    ConfigManager::instance()->exit();
    LogManager::instance()->deactive();
    LogManager::instance()->exit();
    m_app.reset();
}

void tst_ServiceManagerStop::stopDuringQuery_data()
{
    QTest::addColumn<QByteArray>("faults");
    QTest::addColumn<int>("requests"); // requests the tester has seen when the stop comes
    QTest::addColumn<QList<std::uint32_t>>("posted");
    QTest::newRow("waiting for the first byte of the date")
        << QByteArray(R"({"7,1": {"kind": "silent"}})") << 1 << QList<std::uint32_t>();
    QTest::newRow("waiting inside the battery status reply")
        << QByteArray(R"({"1,5": {"kind": "split", "value": 60000, "at": 3}})") << 2
        << QList<std::uint32_t>{MSG_TEST_DATE};
    // A broken date reply: the line must then be silent for 7200 ms before the next request.
    QTest::newRow("letting the line fall silent after a broken reply")
        << QByteArray(R"({"7,1": {"kind": "checksum"}})") << 1 << QList<std::uint32_t>{MSG_TEST_DATE};
}

void tst_ServiceManagerStop::stopDuringQuery()
{
    QFETCH(QByteArray, faults);
    QFETCH(int, requests);
    QFETCH(QList<std::uint32_t>, posted);

    const QString scenario =
        writeScenario(m_links.path(), QStringLiteral("stop.json"),
                      R"({"date": {"day": 7}, "battery": {"status": 1}, "faults": )" + faults + "}");
    QVERIFY(!scenario.isEmpty());
    TesterSim sim;
    QVERIFY2(sim.start(link(31), {QStringLiteral("--no-pacing"), QStringLiteral("--scenario"), scenario}),
             qPrintable(sim.errorText()));
    const qsizetype runBefore = m_app->logLines(QStringLiteral("Run")).size();
    MessageRecorder window;
    ServiceManager service;
    service.setWindowReceiver(&window);
    QVERIFY(service.initialize());
    QVERIFY(service.active());

    auto request = makeMessage<QueryDataRequest>(MSG_QUERY_DATA_REQUEST);
    request.portNumber = 31;
    QVERIFY(service.postMessage(&request, sizeof(request)));
    // A second query queued behind the first is not started after the stop.
    QVERIFY(service.postMessage(&request, sizeof(request)));
    QTRY_COMPARE_WITH_TIMEOUT(sim.log().count("request 55"), requests, 10000);
    QTest::qWait(200);

    QElapsedTimer clock;
    clock.start();
    QVERIFY(service.deactive());
    const qint64 stopMs = clock.elapsed();
    qInfo("deactive returned after %lld ms", stopMs);
    // Without the cut the stop would wait for the rest of a 3600 ms time-out (7200 ms guard).
    QVERIFY2(stopMs < 1500, qPrintable(QString::number(stopMs)));
    QCOMPARE(window.ids(), posted);

    // The port is closed: it opens again at once (access is exclusive).
    QVERIFY(openTesterPort(ConfigManager::instance()->serialPortName(), 31, 10));
    // One line says the query was stopped; the stop is not taken for a tester that did not answer.
    QVERIFY(LogManager::instance()->requestWriteOut());
    const QString stopped = QStringLiteral("Serial Port Query stopped, Port:") + link(31);
    QTRY_VERIFY_WITH_TIMEOUT(
        m_app->logLines(QStringLiteral("Run")).mid(runBefore).filter(stopped).size() == 1, 10000);
    const QStringList run = m_app->logLines(QStringLiteral("Run")).mid(runBefore).filter(link(31));
    QVERIFY2(run.last().endsWith(stopped), qPrintable(run.join(QLatin1Char('\n'))));
    QCOMPARE(run.filter(QStringLiteral("Communication Error")), QStringList());

    // The lifecycle goes on: the manager exits, and a new run answers queries again.
    QVERIFY(service.exit());
    sim.stop();
    TesterSim healthy;
    QVERIFY2(healthy.start(link(31), {QStringLiteral("--no-pacing")}), qPrintable(healthy.errorText()));
    window.clear();
    QVERIFY(service.initialize());
    QVERIFY(service.active());
    QVERIFY(service.postMessage(&request, sizeof(request)));
    QTRY_VERIFY_WITH_TIMEOUT(window.contains(MSG_QUERY_DATA_FINISHED), 30000);
    QCOMPARE(window.first<CapacityInfo>(MSG_CAPACITY_INFO).capacity, std::uint16_t(700));
    QVERIFY(service.deactive());
    QVERIFY(service.exit());
}

QTEST_GUILESS_MAIN(tst_ServiceManagerStop)
#include "tst_ServiceManagerStop.moc"
