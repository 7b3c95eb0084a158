#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

#include <csignal>

#include <unistd.h>

#include "TestAppDir.h"

namespace {

// In the child, before exec: standard output and error become the write end of a pipe whose
// read end is already closed, as when a launcher has gone or closed them.
void closedStreams()
{
    int ends[2];
    if (::pipe(ends) != 0)
        ::_exit(91);
    ::close(ends[0]);
    if (::dup2(ends[1], STDOUT_FILENO) < 0 || ::dup2(ends[1], STDERR_FILENO) < 0)
        ::_exit(92);
    ::close(ends[1]);
    // Whatever the test itself ignores, the program starts with the default: death on SIGPIPE.
    ::signal(SIGPIPE, SIG_DFL);
}

// Every debug message of Qt goes to standard error, so the program writes there at once.
QProcessEnvironment chattyEnvironment()
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    environment.insert(QStringLiteral("QT_LOGGING_RULES"), QStringLiteral("*.debug=true"));
    return environment;
}

bool runLogHas(const TestAppDir &app, const QString &program, const QString &text)
{
    for (const QString &line : app.logLines(QStringLiteral("Run"), program))
        if (line.endsWith(text))
            return true;
    return false;
}

} // namespace

// Both programs with their standard output and error on a closed pipe: writes there fail, and
// the program goes on to its normal end instead of dying of SIGPIPE.
class tst_ClosedStreams : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void kestrelRunsAndStops()
    {
        TestAppDir app;
        const QString program = app.binDir() + QStringLiteral("/kestrel");
        QVERIFY(QFile::copy(QStringLiteral(KESTREL_PROGRAM), program));
        QProcess kestrel;
        kestrel.setProcessEnvironment(chattyEnvironment());
        kestrel.setChildProcessModifier(closedStreams);
        kestrel.start(program, {});
        QVERIFY(kestrel.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(
            runLogHas(app, QStringLiteral("kestrel"), QStringLiteral("System start successfully.")) ||
                kestrel.state() != QProcess::Running,
            20000);
        QCOMPARE(kestrel.state(), QProcess::Running);
        kestrel.terminate();
        QVERIFY(kestrel.waitForFinished(20000));
        QCOMPARE(kestrel.exitStatus(), QProcess::NormalExit);
        QCOMPARE(kestrel.exitCode(), 0);
        QVERIFY(runLogHas(app, QStringLiteral("kestrel"), QStringLiteral("System exit successfully.")));
    }

    // quillet writes nothing of its own to its standard streams, so the test looks at what the
    // kernel says about its signals while it waits for an answer, then lets it run to its end.
    void quilletRunsToItsEnd()
    {
        QTcpServer silentKestrel;
        QVERIFY(silentKestrel.listen(QHostAddress::LocalHost, 0));
        QProcess quillet;
        QProcessEnvironment environment = chattyEnvironment();
        environment.insert(QStringLiteral("QUILLET_TEST_PORT"), QString::number(silentKestrel.serverPort()));
        quillet.setProcessEnvironment(environment);
        quillet.setChildProcessModifier(closedStreams);
        quillet.start(QStringLiteral(QUILLET_PROGRAM), {});
        QVERIFY(quillet.waitForStarted());
        QVERIFY(silentKestrel.waitForNewConnection(30000));
        QTcpSocket *connection = silentKestrel.nextPendingConnection();
        QVERIFY(connection);
        QTRY_VERIFY_WITH_TIMEOUT(connection->bytesAvailable() >= 16, 30000);

        QFile status(QStringLiteral("/proc/%1/status").arg(quillet.processId()));
        if (status.open(QIODevice::ReadOnly)) {
            for (const QByteArray &line : status.readAll().split('\n')) {
                if (line.startsWith("SigIgn:")) {
                    const quint64 ignored = line.mid(7).trimmed().toULongLong(nullptr, 16);
                    QVERIFY2(ignored & (quint64(1) << (SIGPIPE - 1)), "quillet does not ignore SIGPIPE");
                }
            }
        }
        // No answer: quillet's receive fails and it ends normally.
        connection->close();
        QVERIFY(quillet.waitForFinished(30000));
        QCOMPARE(quillet.exitStatus(), QProcess::NormalExit);
        QCOMPARE(quillet.exitCode(), 0);
    }
};

QTEST_GUILESS_MAIN(tst_ClosedStreams)
#include "tst_ClosedStreams.moc"
