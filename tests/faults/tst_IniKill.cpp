#include <csignal>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTest>
#include <QThread>

#include "TestAppDir.h"

// main.ini is rewritten whole on every settings change. A program killed at any moment of such a
// write must leave the old file or the new one, never a mix or a truncated file, and no temporary
// file beside it once the store has started again.
class tst_IniKill : public QObject
{
    Q_OBJECT

private slots:
    void killedWhileWritingLeavesOldOrNewFile();
};

void tst_IniKill::killedWhileWritingLeavesOldOrNewFile()
{
    TestAppDir app;
    const QString helper = QStringLiteral(FAULT_HELPER);
    const QString references = app.path(QStringLiteral("references"));
    QVERIFY(QDir().mkpath(references));
    const QString referenceA = references + QStringLiteral("/a.ini");
    const QString referenceB = references + QStringLiteral("/b.ini");
    QCOMPARE(QProcess::execute(helper, {QStringLiteral("reference"), app.binDir(), referenceA, referenceB}),
             0);
    QFile fileA(referenceA);
    QFile fileB(referenceB);
    QVERIFY(fileA.open(QIODevice::ReadOnly) && fileB.open(QIODevice::ReadOnly));
    const QByteArray contentA = fileA.readAll();
    const QByteArray contentB = fileB.readAll();
    QVERIFY(!contentA.isEmpty() && contentA != contentB);

    const QString iniPath = app.path(QStringLiteral("Config/main.ini"));
    const QDir configDir(app.path(QStringLiteral("Config")));
    int seenA = 0;
    int seenB = 0;
    int leftovers = 0;
    constexpr int kills = 40;
    for (int round = 0; round < kills; ++round) {
        QProcess hammer;
        hammer.start(helper, {QStringLiteral("hammer"), app.binDir()});
        QVERIFY(hammer.waitForStarted());
        QVERIFY(hammer.waitForReadyRead(20000));
        // A random moment inside the write loop; each write takes well under a millisecond or a few.
        QThread::usleep(QRandomGenerator::global()->bounded(200, 30000));
        ::kill(static_cast<pid_t>(hammer.processId()), SIGKILL);
        QVERIFY(hammer.waitForFinished(10000));
        QCOMPARE(hammer.exitStatus(), QProcess::CrashExit);

        QFile ini(iniPath);
        QVERIFY(ini.open(QIODevice::ReadOnly));
        const QByteArray content = ini.readAll();
        if (content == contentA)
            ++seenA;
        else if (content == contentB)
            ++seenB;
        else
            QFAIL(qPrintable(QStringLiteral("round %1: main.ini is neither version (%2 bytes)")
                                 .arg(round)
                                 .arg(content.size())));
        QStringList left = configDir.entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
        if (left.size() > 1) {
            // Killed in the instant between the temporary file's last write and its rename: the
            // complete new file is left beside main.ini, and the next start removes it.
            ++leftovers;
            QCOMPARE(QProcess::execute(helper, {QStringLiteral("start"), app.binDir()}), 0);
            left = configDir.entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
            QFile again(iniPath);
            QVERIFY(again.open(QIODevice::ReadOnly));
            QCOMPARE(again.readAll(), content);
        }
        QVERIFY2(left == QStringList{QStringLiteral("main.ini")}, qPrintable(left.join(QLatin1Char(' '))));
    }
    qInfo("killed %d times: %d left version A, %d version B, %d a temporary file removed at the next start",
          kills, seenA, seenB, leftovers);
}

QTEST_GUILESS_MAIN(tst_IniKill)
#include "tst_IniKill.moc"
