#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

#include <memory>

#include "TestAppDir.h"

namespace {

enum class Fault
{
    PortTaken,
    LogNotWritable,
    TempNotWritable,
    IniReadOnly,
    IniDeletedWhileRunning,
    IniGarbageWhileRunning,
    AllLinksHeld,
};

const QByteArray iniText =
    "[Basic]\r\nCloseDataPrinter=0\r\nQueryDataTimeout=10\r\nSaveDataProcess=quillet\r\n"
    "SerialPortName=/nonexistent/ttyUSB%1\r\n\r\n[Test Info]\r\nCustomer=\r\n"
    "RegistrationNo=\r\nBatteryModel=\r\nCapacity=\r\n\r\n[Doc Setting]\r\nTitle=\r\n"
    "Header=\r\nFooter=\r\n";

// Run-log texts without their time stamps.
QStringList runTexts(const TestAppDir &app)
{
    static const QRegularExpression stamp(
        QStringLiteral("^\\d{4}-\\d{2}-\\d{2} \\d{2}:\\d{2}:\\d{2}\\.\\d{3}  "));
    QStringList texts;
    for (QString line : app.logLines(QStringLiteral("Run"), QStringLiteral("kestrel")))
        texts << line.remove(stamp);
    return texts;
}

bool anyStartsWith(const QStringList &lines, const QString &prefix)
{
    return std::any_of(lines.cbegin(), lines.cend(),
                       [&](const QString &line) { return line.startsWith(prefix); });
}

// chattr +i: the one way to make a folder or file unwritable that also holds for root. Undone in
// the destructor so that the temporary tree can be removed.
class Immutable final
{
public:
    explicit Immutable(QString path) : m_path(std::move(path))
    {
        m_set = QProcess::execute(QStringLiteral("chattr"), {QStringLiteral("+i"), m_path}) == 0;
    }
    ~Immutable()
    {
        if (m_set)
            QProcess::execute(QStringLiteral("chattr"), {QStringLiteral("-i"), m_path});
    }
    bool isSet() const { return m_set; }

private:
    QString m_path;
    bool m_set = false;
};

} // namespace

Q_DECLARE_METATYPE(Fault)

// The real kestrel, offscreen, in a throw-away tree with one fault. Whatever the fault, the program
// neither crashes nor hangs: it keeps running (or ends a start it cannot make by itself) and a
// termination request still runs the orderly shutdown to exit code 0.
class tst_FaultsProcess : public QObject
{
    Q_OBJECT

private slots:
    void survives_data();
    void survives();
};

void tst_FaultsProcess::survives_data()
{
    QTest::addColumn<Fault>("fault");
    QTest::addColumn<QString>("expectedLine"); // start of a run-log line the fault must produce
    QTest::newRow("port 35671 taken")
        << Fault::PortTaken << QStringLiteral("InterfaceManager Create Tcp Server Listen Failed. Code Type:");
    QTest::newRow("Log folder not writable") << Fault::LogNotWritable << QString();
    QTest::newRow("Temp folder not writable") << Fault::TempNotWritable << QString();
    QTest::newRow("main.ini read-only")
        << Fault::IniReadOnly << QStringLiteral("ConfigManager Write Failed, File:");
    QTest::newRow("main.ini deleted while running") << Fault::IniDeletedWhileRunning << QString();
    QTest::newRow("main.ini replaced by garbage while running")
        << Fault::IniGarbageWhileRunning << QStringLiteral("ConfigManager Ignored Lines, File:");
    QTest::newRow("a client holds all ten links")
        << Fault::AllLinksHeld
        << QStringLiteral(
               "InterfaceManager Accept Failed, Get Nonuse Tcp Interface Failed, Listen Port:35671");
}

void tst_FaultsProcess::survives()
{
    QFETCH(Fault, fault);
    QFETCH(QString, expectedLine);

    TestAppDir app;
    const QString program = app.binDir() + QStringLiteral("/kestrel");
    QVERIFY(QFile::copy(QStringLiteral(KESTREL_PROGRAM), program));
    const QString iniPath = app.path(QStringLiteral("Config/main.ini"));
    QByteArray ini = iniText;
    if (fault == Fault::IniReadOnly)
        ini.replace("QueryDataTimeout=10", "QueryDataTimeout=99999"); // out of range: written back
    QVERIFY(app.writeFile(QStringLiteral("Config/main.ini"), ini));

    std::unique_ptr<Immutable> immutable;
    QTcpServer squatter;
    // Another program on the machine may hold the port already; the fault is then there anyway.
    if (fault == Fault::PortTaken && !squatter.listen(QHostAddress::LocalHost, 35671))
        QCOMPARE(squatter.serverError(), QAbstractSocket::AddressInUseError);
    if (fault == Fault::LogNotWritable) {
        immutable = std::make_unique<Immutable>(app.path(QStringLiteral("Log")));
        if (!immutable->isSet())
            QSKIP("chattr +i is not available here; root ignores permission bits, so the Log folder "
                  "cannot be made unwritable");
    }
    if (fault == Fault::TempNotWritable) {
        // A regular file where the folder should be: nothing can be created below it, root or not.
        QVERIFY(QDir(app.path(QStringLiteral("Temp"))).removeRecursively());
        QVERIFY(app.writeFile(QStringLiteral("Temp"), "not a folder"));
    }
    if (fault == Fault::IniReadOnly) {
        immutable = std::make_unique<Immutable>(iniPath);
        if (!immutable->isSet())
            QSKIP("chattr +i is not available here; root ignores permission bits, so main.ini "
                  "cannot be made read-only");
    }

    QProcess kestrel;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    kestrel.setProcessEnvironment(environment);
    kestrel.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    kestrel.start(program, {});
    QVERIFY(kestrel.waitForStarted());

    if (fault == Fault::LogNotWritable) {
        // Nothing to watch in the log; the main window runs for two reload and log-write periods.
        QTest::qWait(7000);
        QCOMPARE(kestrel.state(), QProcess::Running);
    } else {
        QTRY_VERIFY_WITH_TIMEOUT(runTexts(app).contains(QStringLiteral("System start successfully.")), 15000);
    }

    QByteArray garbage;
    std::vector<std::unique_ptr<QTcpSocket>> clients;
    if (fault == Fault::IniDeletedWhileRunning) {
        QVERIFY(QFile::remove(iniPath));
    } else if (fault == Fault::IniGarbageWhileRunning) {
        garbage.resize(4096);
        for (char &byte : garbage)
            byte = static_cast<char>(QRandomGenerator::global()->bounded(256));
        garbage.replace('\n', "\n[\xff\xfe=\x01]=");
        QVERIFY(app.writeFile(QStringLiteral("Config/main.ini"), garbage));
    } else if (fault == Fault::AllLinksHeld) {
        // Ten links and one more than the pool holds; none of them ever says anything.
        for (int i = 0; i < 11; ++i) {
            clients.push_back(std::make_unique<QTcpSocket>());
            clients.back()->connectToHost(QHostAddress::LocalHost, 35671);
            QVERIFY(clients.back()->waitForConnected(5000));
        }
    }
    if (fault == Fault::IniDeletedWhileRunning || fault == Fault::IniGarbageWhileRunning ||
        fault == Fault::AllLinksHeld) {
        // Past the next reload check (every 3 s) and the next run-log write (every 3 s).
        QTest::qWait(7000);
        QCOMPARE(kestrel.state(), QProcess::Running);
    }
    if (fault == Fault::IniDeletedWhileRunning) {
        // A slow (sanitized, busy) run may need more than two reload checks to write it again.
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(iniPath), 30000);
    }
    if (fault == Fault::AllLinksHeld) {
        // The one beyond the pool was dropped at once; the ten that never logged in were closed
        // after the login time-out, so the links are free for a helper again.
        for (const auto &client : clients)
            QCOMPARE(client->state(), QAbstractSocket::UnconnectedState);
        QTRY_VERIFY_WITH_TIMEOUT(
            anyStartsWith(runTexts(app),
                          QStringLiteral("TcpInterface Wait Login Requst Timeout, Code Type:1, "
                                         "Interface State:4, Remote Addr:127.0.0.1(")),
            10000);
    }

    if (fault == Fault::PortTaken) {
        // Without its service port it keeps running for queries and printing.
        QTRY_VERIFY_WITH_TIMEOUT(anyStartsWith(runTexts(app), expectedLine), 10000);
        QCOMPARE(kestrel.state(), QProcess::Running);
    }
    kestrel.terminate();
    QVERIFY2(kestrel.waitForFinished(20000), "kestrel did not end on a termination request");
    QCOMPARE(kestrel.exitStatus(), QProcess::NormalExit);
    QCOMPARE(kestrel.exitCode(), 0);
    clients.clear();

    const QStringList lines = runTexts(app);
    if (fault == Fault::LogNotWritable) {
        QVERIFY(lines.isEmpty());
        QVERIFY(QDir(app.path(QStringLiteral("Log"))).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot));
    } else {
        QVERIFY2(!lines.isEmpty() && lines.constLast() == QStringLiteral("System exit successfully."),
                 qPrintable(lines.join(QLatin1Char('\n'))));
    }
    if (!expectedLine.isEmpty())
        QVERIFY2(anyStartsWith(lines, expectedLine), qPrintable(lines.join(QLatin1Char('\n'))));
    QVERIFY(lines.isEmpty() || lines.contains(QStringLiteral("System start successfully.")));

    // What is kept.
    const QByteArray after = app.readFile(QStringLiteral("Config/main.ini"));
    switch (fault) {
    case Fault::IniReadOnly:
        QCOMPARE(after, ini);
        break;
    case Fault::IniDeletedWhileRunning:
        // A missing file means defaults, and the next reload check writes them to a new file.
        QVERIFY2(after.startsWith("[Basic]") && after.contains("SerialPortName=/dev/ttyUSB%1"),
                 after.constData());
        break;
    case Fault::IniGarbageWhileRunning:
        // The operator's file, garbage or not, is not thrown away: its lines stay, in order,
        // and the missing keys are added.
        QVERIFY2(after.startsWith(garbage.left(garbage.indexOf('\n'))), after.left(200).toHex().constData());
        QVERIFY(after.contains("SerialPortName="));
        break;
    default:
        QVERIFY(after.startsWith("[Basic]"));
        break;
    }
    QCOMPARE(QDir(app.path(QStringLiteral("Config")))
                 .entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
             QFileInfo::exists(app.path(QStringLiteral("Config/main.ini")))
                 ? QStringList{QStringLiteral("main.ini")}
                 : QStringList{});
}

QTEST_GUILESS_MAIN(tst_FaultsProcess)
#include "tst_FaultsProcess.moc"
