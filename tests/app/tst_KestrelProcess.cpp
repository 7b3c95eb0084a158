#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTest>

#include "TestAppDir.h"

namespace {

QStringList systemLines(const TestAppDir &app)
{
    static const QRegularExpression record(
        QStringLiteral("^\\d{4}-\\d{2}-\\d{2} \\d{2}:\\d{2}:\\d{2}\\.\\d{3}  (System .*)$"));
    QStringList texts;
    for (const QString &line : app.logLines(QStringLiteral("Run"), QStringLiteral("kestrel"))) {
        const auto match = record.match(line);
        if (match.hasMatch())
            texts << match.captured(1);
    }
    return texts;
}

} // namespace

// The real program in a throw-away tree: it starts, writes its run log beside bin/, creates
// main.ini, and a termination request runs the orderly shutdown.
class tst_KestrelProcess : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void startsAndStopsInOrder()
    {
        TestAppDir app;
        const QString program = app.binDir() + QStringLiteral("/kestrel");
        QVERIFY(QFile::copy(QStringLiteral(KESTREL_PROGRAM), program));

        QProcess kestrel;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        kestrel.setProcessEnvironment(environment);
        kestrel.start(program, {});
        QVERIFY(kestrel.waitForStarted());

        // main.ini is written while the configuration store starts, before the window shows.
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(app.path(QStringLiteral("Config/main.ini"))), 10000);
        // The run log is written out every 3 seconds.
        QTRY_VERIFY_WITH_TIMEOUT(systemLines(app).contains(QStringLiteral("System start successfully.")), 10000);
        QCOMPARE(kestrel.state(), QProcess::Running);

        kestrel.terminate();
        QVERIFY(kestrel.waitForFinished(10000));
        QCOMPARE(kestrel.exitStatus(), QProcess::NormalExit);
        QCOMPARE(kestrel.exitCode(), 0);
        QCOMPARE(systemLines(app), (QStringList{QStringLiteral("System initialize successfully."),
                                                QStringLiteral("System active successfully."),
                                                QStringLiteral("System start successfully."),
                                                QStringLiteral("System deactive successfully."),
                                                QStringLiteral("System exit successfully.")}));
        // The exit line is the last line of the run log.
        QVERIFY(app.logLines(QStringLiteral("Run"), QStringLiteral("kestrel")).constLast().endsWith(
            QStringLiteral("System exit successfully.")));
        const QByteArray ini = app.readFile(QStringLiteral("Config/main.ini"));
        QVERIFY(ini.startsWith("[Basic]"));
        QVERIFY(ini.contains("[Test Info]") && ini.contains("[Doc Setting]"));
    }
};

QTEST_GUILESS_MAIN(tst_KestrelProcess)
#include "tst_KestrelProcess.moc"
