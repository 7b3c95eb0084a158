#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTest>

#include "ConfigManager.h"
#include "LogManager.h"
#include "MessageRecorder.h"
#include "ProcessFigures.h"
#include "ServiceManager.h"
#include "TestAppDir.h"
#include "TestRecord.h"
#include "TesterSim.h"

// Queries one after another against the simulator at full speed: each one complete, and the
// process no larger at the end than after warm-up. KESTREL_SOAK_QUERIES sets the count.
class tst_QuerySoak : public QObject
{
    Q_OBJECT

private slots:
    void queriesInARow();
};

void tst_QuerySoak::queriesInARow()
{
    const int count = soakCount("KESTREL_SOAK_QUERIES", 40);
    const int warmUp = std::max(1, count / 10);
    const QList<std::uint32_t> queryOrder = {
        MSG_TEST_DATE,     MSG_BATTERY_RESULT,     MSG_GROUNDING_RESULT,  MSG_STARTER_RESULT,
        MSG_AVG2K_RESULT,  MSG_CHARGING3K_RESULT,  MSG_CHARGING2K_RESULT, MSG_REGISTRATION_NO_INFO,
        MSG_CAPACITY_INFO, MSG_QUERY_DATA_FINISHED};

    QTemporaryDir links;
    QVERIFY(links.isValid());
    TestAppDir app;
    // Every answer is read until the line has been quiet this long, so it sets the pace (about 21
    // times this per query); 20 and 50 ms lost answers on the busy shared machine, so CI uses
    // 100 ms (KESTREL_SOAK_TIMEOUT sets it for longer runs by hand).
    const QByteArray ini =
        "[Basic]\r\nQueryDataTimeout=" + QByteArray::number(soakCount("KESTREL_SOAK_TIMEOUT", 100)) +
        "\r\nSerialPortName=" + links.path().toLocal8Bit() + "/ttyUSB%1\r\n";
    QVERIFY(app.writeFile(QStringLiteral("Config/main.ini"), ini));
    QVERIFY(ConfigManager::instance()->initialize() && ConfigManager::instance()->active());
    QVERIFY(LogManager::instance()->initialize() && LogManager::instance()->active());
    TesterSim sim;
    QVERIFY2(sim.start(links.path() + QStringLiteral("/ttyUSB3"), {QStringLiteral("--no-pacing")}),
             qPrintable(sim.errorText()));
    MessageRecorder window;
    ServiceManager service;
    service.setWindowReceiver(&window);
    QVERIFY(service.initialize() && service.active());

    const ProcessFigures start = ProcessFigures::now();
    ProcessFigures warm;
    QList<QByteArray> first;
    // Queries that lost an answer, with the messages that differed; counted to the end so that
    // the memory figures of a long run are not lost with them.
    QStringList lost;
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < count; ++i) {
        if (i == warmUp)
            warm = ProcessFigures::now();
        window.clear();
        auto request = makeMessage<QueryDataRequest>(MSG_QUERY_DATA_REQUEST);
        request.portNumber = 3;
        QVERIFY(service.postMessage(&request, sizeof(request)));
        QTRY_VERIFY_WITH_TIMEOUT(window.contains(MSG_QUERY_DATA_FINISHED), 60000);
        QVERIFY2(window.ids() == queryOrder, qPrintable(QStringLiteral("query %1 incomplete").arg(i)));
        // A lost answer still ends the query, with its values left 0: every query must bring
        // exactly what the first one brought, and that one the simulated vehicle.
        if (i == 0) {
            first = window.messages();
            QCOMPARE(int(window.first<CapacityInfo>(MSG_CAPACITY_INFO).capacity), 700);
            QCOMPARE(int(window.first<BatteryResult>(MSG_BATTERY_RESULT).voltage), 1262);
        }
        const QList<QByteArray> messages = window.messages();
        if (messages != first) {
            QStringList changed;
            for (qsizetype m = 0; m < std::min(messages.size(), first.size()); ++m) {
                if (messages.at(m) != first.at(m))
                    changed << QString::fromLatin1(messages.at(m).toHex(' '));
            }
            lost << QStringLiteral("query %1: %2").arg(i).arg(changed.join(QStringLiteral("; ")));
        }
    }
    const qint64 elapsed = clock.elapsed();
    const ProcessFigures end = ProcessFigures::now();

    QVERIFY(service.deactive() && service.exit());
    sim.stop();
    LogManager::instance()->deactive();
    LogManager::instance()->exit();
    ConfigManager::instance()->deactive();
    ConfigManager::instance()->exit();

    qInfo("%d queries (%lld lost an answer) in %lld ms; start %s; after %d: %s; end %s", count,
          qint64(lost.size()), elapsed, qPrintable(start.text()), warmUp, qPrintable(warm.text()),
          qPrintable(end.text()));
    QVERIFY2(lost.isEmpty(), qPrintable(QStringLiteral("%1 of %2 queries lost an answer; first %3")
                                            .arg(lost.size())
                                            .arg(count)
                                            .arg(lost.mid(0, 3).join(QStringLiteral(" | ")))));
    QVERIFY2(memoryFlat(warm, end), qPrintable(end.text()));
    QCOMPARE(end.openFds, warm.openFds);
}

QTEST_GUILESS_MAIN(tst_QuerySoak)
#include "tst_QuerySoak.moc"
