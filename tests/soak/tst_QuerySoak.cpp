#include <memory>
#include <vector>

#include <QElapsedTimer>
#include <QProcess>
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
// process no larger at the end than after warm-up. KESTREL_SOAK_QUERIES sets the count;
// KESTREL_SOAK_HOGS=N runs N busy processes beside it for the whole run, so the simulator and the
// query compete for every core.
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
    // The longest silence before and inside a reply; a reply ends by its length, so this only
    // has to cover the simulator being scheduled late (KESTREL_SOAK_TIMEOUT sets it by hand).
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

    // Busy loops in their own processes, killed with the test and ending by themselves after two
    // hours at the latest ($SECONDS is bash's own clock, so the loop starts no processes).
    std::vector<std::unique_ptr<QProcess>> hogs;
    const int hogCount = qEnvironmentVariableIntValue("KESTREL_SOAK_HOGS");
    for (int h = 0; h < hogCount; ++h) {
        hogs.push_back(std::make_unique<QProcess>());
        hogs.back()->start(QStringLiteral("bash"),
                           {QStringLiteral("-c"), QStringLiteral("while [ $SECONDS -lt 7200 ]; do :; done")});
        QVERIFY(hogs.back()->waitForStarted(10000));
    }

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
            // What the run log says about the lost answer (its newest lines).
            LogManager::instance()->requestWriteOut();
            QTest::qWait(500);
            const QStringList said =
                app.logLines(QStringLiteral("Run")).filter(QStringLiteral("Serial Port"));
            lost << QStringLiteral("query %1: %2 [%3]")
                        .arg(i)
                        .arg(changed.join(QStringLiteral("; ")),
                             said.mid(said.size() - 2).join(QStringLiteral("; ")));
        }
        // Progress, so that a run cut short still tells how far it came.
        if ((i + 1) % 100 == 0)
            qInfo("%d queries, %lld lost an answer, %lld ms", i + 1, qint64(lost.size()), clock.elapsed());
    }
    const qint64 elapsed = clock.elapsed();
    const ProcessFigures end = ProcessFigures::now();
    for (const auto &hog : hogs) {
        hog->kill();
        hog->waitForFinished(10000);
    }

    QVERIFY(service.deactive() && service.exit());
    sim.stop();
    LogManager::instance()->deactive();
    LogManager::instance()->exit();
    ConfigManager::instance()->deactive();
    ConfigManager::instance()->exit();

    qInfo("%d queries (%lld lost an answer) in %lld ms beside %d busy processes; start %s; after %d: %s; "
          "end %s",
          count, qint64(lost.size()), elapsed, hogCount, qPrintable(start.text()), warmUp,
          qPrintable(warm.text()), qPrintable(end.text()));
    QVERIFY2(lost.isEmpty(), qPrintable(QStringLiteral("%1 of %2 queries lost an answer; first %3")
                                            .arg(lost.size())
                                            .arg(count)
                                            .arg(lost.mid(0, 3).join(QStringLiteral(" | ")))));
    QVERIFY2(memoryFlat(warm, end), qPrintable(end.text()));
    QCOMPARE(end.openFds, warm.openFds);
}

QTEST_GUILESS_MAIN(tst_QuerySoak)
#include "tst_QuerySoak.moc"
