#include <QRegularExpression>
#include <QTest>

#include "LogManager.h"
#include "SystemLifecycle.h"
#include "TestAppDir.h"

namespace {

enum Step { Never = 0, Initialize, Active, Deactive, Exit };

// A manager that fails the chosen lifecycle step and records the steps it was asked to do.
class StandInManager final : public VirtualManager
{
public:
    StandInManager(QString name, QStringList *journal) : m_name(std::move(name)), m_journal(journal) {}
    // A failed deactive leaves the thread running; it must end before this part of the object goes,
    // or the thread may still call into it.
    ~StandInManager() override { VirtualManager::deactive(); }
    Step failAt = Never;

    bool initialize() override { return step(Initialize, QStringLiteral("initialize")) && VirtualManager::initialize(); }
    bool active() override { return step(Active, QStringLiteral("active")) && VirtualManager::active(); }
    bool deactive() override { return step(Deactive, QStringLiteral("deactive")) && VirtualManager::deactive(); }
    bool exit() override { return step(Exit, QStringLiteral("exit")) && VirtualManager::exit(); }

private:
    bool step(Step which, const QString &verb)
    {
        *m_journal << m_name + QLatin1Char(' ') + verb;
        return failAt != which;
    }
    QString m_name;
    QStringList *m_journal;
};

QStringList runLogTexts(const TestAppDir &app)
{
    static const QRegularExpression record(QStringLiteral("^\\d{4}-\\d{2}-\\d{2} \\d{2}:\\d{2}:\\d{2}\\.\\d{3}  (.*)$"));
    QStringList texts;
    for (const QString &line : app.logLines(QStringLiteral("Run"))) {
        const auto match = record.match(line);
        if (match.hasMatch())
            texts << match.captured(1);
    }
    return texts;
}

} // namespace

class tst_SystemLifecycle : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void walks_data()
    {
        QTest::addColumn<QString>("failing");
        QTest::addColumn<int>("step");
        QTest::addColumn<bool>("windowRuns");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QStringList>("lines");

        const QString init = QStringLiteral("System initialize successfully.");
        const QString act = QStringLiteral("System active successfully.");
        const QString start = QStringLiteral("System start successfully.");
        const QString down = QStringLiteral("System deactive successfully.");
        const QString gone = QStringLiteral("System exit successfully.");

        QTest::newRow("normal run") << QString() << int(Never) << true << 42
                                    << QStringList{init, act, start, down, gone};
        QTest::newRow("config initialize fails")
            << QStringLiteral("config") << int(Initialize) << false << 0
            << QStringList{QStringLiteral("Initialize configManager failed"), QStringLiteral("Initialize system failed"),
                           down, gone};
        QTest::newRow("service initialize fails")
            << QStringLiteral("service") << int(Initialize) << false << 0
            << QStringList{QStringLiteral("Initialize serviceManager failed"), QStringLiteral("Initialize system failed"),
                           down, gone};
        QTest::newRow("interface active fails")
            << QStringLiteral("interface") << int(Active) << false << 0
            << QStringList{init, QStringLiteral("Active interfaceManager failed"), QStringLiteral("Active system failed"),
                           down, gone};
        // The failure lines still reach the files although the exit walk is skipped.
        QTest::newRow("service deactive fails")
            << QStringLiteral("service") << int(Deactive) << true << 42
            << QStringList{init, act, start, QStringLiteral("Deactive serviceManager failed"),
                           QStringLiteral("Deactive system failed")};
        QTest::newRow("config exit fails")
            << QStringLiteral("config") << int(Exit) << true << 42
            << QStringList{init, act, start, down, QStringLiteral("Exit configManager failed"),
                           QStringLiteral("Exit system failed")};
    }

    void walks()
    {
        QFETCH(QString, failing);
        QFETCH(int, step);
        QFETCH(bool, windowRuns);
        QFETCH(int, exitCode);
        QFETCH(QStringList, lines);

        TestAppDir app;
        QStringList journal;
        LogManager log;
        StandInManager config(QStringLiteral("config"), &journal);
        StandInManager interface(QStringLiteral("interface"), &journal);
        StandInManager service(QStringLiteral("service"), &journal);
        if (failing == QStringLiteral("config"))
            config.failAt = Step(step);
        if (failing == QStringLiteral("interface"))
            interface.failAt = Step(step);
        if (failing == QStringLiteral("service"))
            service.failAt = Step(step);

        bool ran = false;
        SystemLifecycle lifecycle(&log, &config, &interface, &service);
        const int code = lifecycle.run([&] {
            ran = true;
            // Everything is up and running on its own thread while the window runs.
            return config.isRunning() && interface.isRunning() && service.isRunning() ? 42 : -1;
        });
        QCOMPARE(ran, windowRuns);
        QCOMPARE(code, exitCode);
        QVERIFY(!log.isRunning());
        QCOMPARE(runLogTexts(app), lines);
        if (failing == QStringLiteral("interface") && step == Active)
            QVERIFY(!journal.contains(QStringLiteral("service active")));
    }

    // The history manager comes after the configuration store on the way up (it reads its
    // settings) and before the interface manager, and the other way round on the way down.
    void historyWalksBetweenConfigAndInterface_data()
    {
        QTest::addColumn<int>("step");
        QTest::addColumn<QStringList>("expectedJournal");
        QTest::addColumn<QString>("failureLine");
        const QStringList up = {QStringLiteral("config initialize"),    QStringLiteral("history initialize"),
                                QStringLiteral("interface initialize"), QStringLiteral("service initialize"),
                                QStringLiteral("config active"),        QStringLiteral("history active"),
                                QStringLiteral("interface active"),     QStringLiteral("service active")};
        const QStringList down = {QStringLiteral("service deactive"), QStringLiteral("interface deactive"),
                                  QStringLiteral("history deactive"), QStringLiteral("config deactive"),
                                  QStringLiteral("service exit"),     QStringLiteral("interface exit"),
                                  QStringLiteral("history exit"),     QStringLiteral("config exit")};
        QTest::newRow("normal run") << int(Never) << up + down << QString();
        QTest::newRow("history active fails")
            << int(Active) << up.mid(0, 6) + down << QStringLiteral("Active historyManager failed");
        QTest::newRow("history deactive fails")
            << int(Deactive) << up + down.mid(0, 3) << QStringLiteral("Deactive historyManager failed");
    }

    void historyWalksBetweenConfigAndInterface()
    {
        QFETCH(int, step);
        QFETCH(QStringList, expectedJournal);
        QFETCH(QString, failureLine);
        TestAppDir app;
        QStringList journal;
        LogManager log;
        StandInManager config(QStringLiteral("config"), &journal);
        StandInManager history(QStringLiteral("history"), &journal);
        StandInManager interface(QStringLiteral("interface"), &journal);
        StandInManager service(QStringLiteral("service"), &journal);
        history.failAt = Step(step);
        SystemLifecycle lifecycle(&log, &config, &interface, &service, &history);
        lifecycle.run([&] { return history.isRunning() ? 0 : -1; });
        QCOMPARE(journal, expectedJournal);
        if (!failureLine.isEmpty())
            QVERIFY(runLogTexts(app).contains(failureLine));
    }
};

QTEST_GUILESS_MAIN(tst_SystemLifecycle)
#include "tst_SystemLifecycle.moc"
