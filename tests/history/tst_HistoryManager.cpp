#include <sys/mount.h>
#include <unistd.h>

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSqlQuery>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

#include "Codec.h"
#include "ConfigManager.h"
#include "HistoryManager.h"
#include "HistoryMessages.h"
#include "HistorySchema.h"
#include "HistoryStore.h"
#include "HistoryTestKit.h"
#include "LogManager.h"
#include "PostgresServer.h"
#include "TestAppDir.h"

using namespace HistoryTestKit;

namespace {

QByteArray mainIni(const HistorySetting &setting)
{
    return QStringLiteral("[Basic]\r\nWorkstation=bay-7\r\n[History]\r\nDriver=%1\r\nHost=%2\r\nPort=%3\r\n"
                          "Database=%4\r\nUser=%5\r\n")
        .arg(setting.driver, setting.host, QString::number(setting.port), setting.database, setting.user)
        .toUtf8();
}

// The log, the configuration store and the history manager of one kestrel, in a temporary
// application folder; stop() ends them in the order kestrel does and returns the run-log lines.
class Rig final
{
public:
    explicit Rig(const HistorySetting &setting, bool start = true)
    {
        m_app.writeFile(QStringLiteral("Config/main.ini"), mainIni(setting));
        if (start)
            this->start();
    }
    ~Rig() { stop(); }

    void start()
    {
        LogManager::instance()->initialize();
        LogManager::instance()->active();
        ConfigManager::instance()->initialize();
        ConfigManager::instance()->active();
        HistoryManager *history = HistoryManager::instance();
        history->setRetryIntervalMs(200);
        history->setConnectTimeoutSeconds(1);
        history->initialize();
        history->active();
        m_running = true;
    }

    QStringList stop()
    {
        if (m_running) {
            HistoryManager::instance()->deactive();
            HistoryManager::instance()->exit();
            ConfigManager::instance()->deactive();
            ConfigManager::instance()->exit();
            LogManager::instance()->deactive();
            LogManager::instance()->exit();
            HistoryManager::destroyInstance();
            m_running = false;
        }
        return m_app.logLines(QStringLiteral("Run"));
    }

    const TestAppDir &app() const { return m_app; }

private:
    TestAppDir m_app;
    bool m_running = false;
};

bool post(const HistoryRecord &record)
{
    const HistoryRecordMessage message = toMessage(record);
    return HistoryManager::instance()->postMessage(&message, sizeof(message));
}

int linesWith(const QStringList &lines, const QString &fragment)
{
    int count = 0;
    for (const QString &line : lines)
        count += line.contains(fragment) ? 1 : 0;
    return count;
}

// Counts on a connection of the test's own, as another program would see the database.
std::int64_t storedCount(const HistorySetting &setting, const QString &path, bool outbox = false)
{
    HistoryStore store(QStringLiteral("check"));
    if (store.open(setting, path, nullptr) != HistoryStore::OpenResult::Ready)
        return -1;
    return outbox ? store.outboxCount() : store.recordCount();
}

QByteArray fileHash(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    return QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256);
}

// A kernel file system of a given size, mounted by the test (root only) and unmounted at the end.
class SmallFileSystem final
{
public:
    SmallFileSystem(const QString &folder, const char *options) : m_folder(folder)
    {
        QDir().mkpath(folder);
        m_mounted = ::mount("tmpfs", QFile::encodeName(folder).constData(), "tmpfs", 0, options) == 0;
    }
    ~SmallFileSystem()
    {
        if (m_mounted)
            ::umount2(QFile::encodeName(m_folder).constData(), MNT_DETACH);
    }
    bool remount(const char *options)
    {
        return ::mount("tmpfs", QFile::encodeName(m_folder).constData(), "tmpfs", MS_REMOUNT, options) == 0;
    }
    bool isMounted() const { return m_mounted; }

private:
    QString m_folder;
    bool m_mounted = false;
};

} // namespace

class tst_HistoryManager : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();

    void keepsTestsThatCameFromTheTester_data();
    void keepsTestsThatCameFromTheTester();
    void damagedFileIsMovedAsideAndReplaced();
    void newerDatabaseIsLeftAloneAndHistoryIsOff();
    void lockedFileMakesTestsWaitNotVanish();
    void fullDiskMakesTestsWaitNotVanish();
    void readOnlyDataFolderMakesTestsWaitNotVanish();
    void serverStoppedMidRunGetsEveryTestOnce();
    void wrongCredentialsFillTheOutbox();
    void silentServerCostsABoundedWait();
    void twoProcessesWriteToOneServer();

private:
    HistorySetting serverSetting(const QString &database);
    QTemporaryDir m_folder;
};

void tst_HistoryManager::initTestCase()
{
    Codec::install();
    QVERIFY(m_folder.isValid());
}

void tst_HistoryManager::cleanupTestCase()
{
    stopSharedServer();
}

HistorySetting tst_HistoryManager::serverSetting(const QString &database)
{
    HistorySetting setting;
    QString whyNot;
    PostgresServer *server = sharedServer(&whyNot);
    if (!server)
        return setting;
    server->createDatabase(database);
    return HistoryTestKit::serverSetting(*server, database);
}

#define NEED_SERVER()                                                                                        \
    do {                                                                                                     \
        QString whyNot;                                                                                      \
        if (!sharedServer(&whyNot))                                                                          \
            QSKIP(qPrintable(whyNot));                                                                       \
    } while (false)

void tst_HistoryManager::keepsTestsThatCameFromTheTester_data()
{
    QTest::addColumn<QString>("driver");
    QTest::newRow("sqlite") << QStringLiteral("QSQLITE");
    QTest::newRow("postgresql") << QStringLiteral("QPSQL");
}

void tst_HistoryManager::keepsTestsThatCameFromTheTester()
{
    QFETCH(QString, driver);
    HistorySetting setting;
    if (driver == QLatin1String("QPSQL")) {
        NEED_SERVER();
        setting = serverSetting(QStringLiteral("keeps"));
    }
    Rig rig(setting);
    const QString path = HistoryManager::databasePath();
    QTRY_COMPARE(HistoryManager::instance()->state(), HistoryManager::State::Ready);

    HistoryRecord kept = makeRecord(3, QStringLiteral("AK308"), QString::fromUtf8("\u5F20\u4E09"), 1000);
    HistoryRecord nothing = kept;
    nothing.key = QUuid::createUuid();
    nothing.record = TestRecord{};
    QVERIFY(post(nothing));
    QVERIFY(post(kept));
    const HistoryEventMessage printed =
        toMessage(HistoryEvent{kept.key, HistoryEventKind::Printed, 2000, {}, {}, {}});
    QVERIFY(HistoryManager::instance()->postMessage(&printed, sizeof(printed)));
    rig.stop();

    HistoryStore store(QStringLiteral("check"));
    QCOMPARE(store.open(setting, path, nullptr), HistoryStore::OpenResult::Ready);
    QCOMPARE(store.recordCount(), 1);
    const std::optional<HistoryRecord> loaded = store.loadRecord(kept.key);
    QVERIFY(loaded);
    QCOMPARE(loaded->workstation, QStringLiteral("bay-7"));
    QCOMPARE(loaded->customer, kept.customer);
    QCOMPARE(store.events(kept.key).size(), 1);
    if (driver == QLatin1String("QSQLITE")) {
        QSqlQuery pragma(store.database());
        QVERIFY(pragma.exec(QStringLiteral("PRAGMA journal_mode")) && pragma.next());
        QCOMPARE(pragma.value(0).toString(), QStringLiteral("wal"));
    }
}

void tst_HistoryManager::damagedFileIsMovedAsideAndReplaced()
{
    Rig rig(HistorySetting{}, false);
    const QByteArray garbage =
        QByteArray("this is no database, just bytes that once were one ").repeated(200);
    QVERIFY(rig.app().writeFile(QStringLiteral("Data/history.sqlite"), garbage));
    rig.start();
    QTRY_COMPARE(HistoryManager::instance()->state(), HistoryManager::State::Ready);
    QVERIFY(post(makeRecord(1, QStringLiteral("X1"), QStringLiteral("c"), 1)));
    const QStringList lines = rig.stop();

    QCOMPARE(linesWith(lines, QStringLiteral("HistoryManager Damaged File Moved Aside")), 1);
    const QStringList aside =
        QDir(HistoryManager::dataDir()).entryList({QStringLiteral("history.sqlite.corrupt-*")}, QDir::Files);
    QCOMPARE(aside.size(), 1);
    QCOMPARE(rig.app().readFile(QStringLiteral("Data/") + aside.first()), garbage);
    QCOMPARE(storedCount(HistorySetting{}, HistoryManager::databasePath()), 1);
}

void tst_HistoryManager::newerDatabaseIsLeftAloneAndHistoryIsOff()
{
    Rig rig(HistorySetting{}, false);
    const QString path = HistoryManager::databasePath();
    QDir().mkpath(HistoryManager::dataDir());
    {
        HistoryStore store(QStringLiteral("future"));
        QCOMPARE(store.open(HistorySetting{}, path, nullptr), HistoryStore::OpenResult::Ready);
        QSqlQuery query(store.database());
        query.prepare(QStringLiteral("INSERT INTO schema_version (version) VALUES (?)"));
        query.addBindValue(HistorySchema::latestVersion() + 1);
        QVERIFY(query.exec());
        QVERIFY(query.exec(QStringLiteral("PRAGMA wal_checkpoint(TRUNCATE)")));
    }
    const QByteArray before = fileHash(path);
    rig.start();
    QTRY_COMPARE(HistoryManager::instance()->state(), HistoryManager::State::Off);
    QVERIFY(post(makeRecord(1, QStringLiteral("X1"), QStringLiteral("c"), 1)));
    const QStringList lines = rig.stop();
    QCOMPARE(linesWith(lines, QStringLiteral("Database From A Newer Version Left Untouched")), 1);
    QCOMPARE(fileHash(path), before);
}

void tst_HistoryManager::lockedFileMakesTestsWaitNotVanish()
{
    Rig rig(HistorySetting{});
    QTRY_COMPARE(HistoryManager::instance()->state(), HistoryManager::State::Ready);
    // Another program holds the file's write lock until its input ends.
    QProcess holder;
    holder.start(
        QStringLiteral("python3"),
        {QStringLiteral("-c"),
         QStringLiteral("import sqlite3,sys\nc=sqlite3.connect(sys.argv[1],isolation_level=None)\n"
                        "c.execute('BEGIN EXCLUSIVE')\nprint('locked',flush=True)\nsys.stdin.read()\n"),
         HistoryManager::databasePath()});
    if (!holder.waitForStarted(10000))
        QSKIP("python3 is needed to hold the file's lock from another process");
    QVERIFY(holder.waitForReadyRead(10000));
    QCOMPARE(holder.readLine().trimmed(), QByteArray("locked"));

    QList<HistoryRecord> records;
    for (int seed = 0; seed < 3; ++seed) {
        records << makeRecord(seed, QStringLiteral("L%1").arg(seed), QStringLiteral("c"), seed);
        QVERIFY(post(records.last()));
    }
    QTRY_COMPARE_WITH_TIMEOUT(HistoryManager::instance()->state(), HistoryManager::State::Waiting, 15000);
    holder.closeWriteChannel();
    QVERIFY(holder.waitForFinished(10000));
    QTRY_COMPARE_WITH_TIMEOUT(HistoryManager::instance()->state(), HistoryManager::State::Ready, 15000);
    const QStringList lines = rig.stop();
    QCOMPARE(storedCount(HistorySetting{}, HistoryManager::databasePath()), 3);
    QCOMPARE(linesWith(lines, QStringLiteral("HistoryManager Write Failed")), 1);
    QCOMPARE(linesWith(lines, QStringLiteral("HistoryManager Write Succeeded Again")), 1);
}

void tst_HistoryManager::fullDiskMakesTestsWaitNotVanish()
{
    if (::geteuid() != 0)
        QSKIP("mounting a small file system for the Data folder needs root");
    Rig rig(HistorySetting{}, false);
    SmallFileSystem small(HistoryManager::dataDir(), "size=8m");
    if (!small.isMounted())
        QSKIP("cannot mount a small tmpfs here (needs CAP_SYS_ADMIN)");
    rig.start();
    QTRY_COMPARE(HistoryManager::instance()->state(), HistoryManager::State::Ready);
    // Fill what is left, then keep tests.
    QFile filler(HistoryManager::dataDir() + QStringLiteral("/filler"));
    QVERIFY(filler.open(QIODevice::WriteOnly));
    const QByteArray block(4096, 'x');
    while (filler.write(block) == block.size() && filler.flush()) {
    }
    filler.close();
    QList<HistoryRecord> records;
    for (int seed = 0; seed < 40; ++seed) {
        records << makeRecord(seed, QStringLiteral("F%1").arg(seed), QStringLiteral("c").repeated(200), seed);
        QVERIFY(post(records.last()));
    }
    QTRY_COMPARE_WITH_TIMEOUT(HistoryManager::instance()->state(), HistoryManager::State::Waiting, 15000);
    QVERIFY(QFile::remove(filler.fileName()));
    QTRY_COMPARE_WITH_TIMEOUT(HistoryManager::instance()->waitingItems(), 0, 15000);
    QTRY_COMPARE_WITH_TIMEOUT(HistoryManager::instance()->state(), HistoryManager::State::Ready, 15000);
    const QStringList lines = rig.stop();
    QCOMPARE(storedCount(HistorySetting{}, HistoryManager::databasePath()), 40);
    QVERIFY(linesWith(lines, QStringLiteral("HistoryManager Write Failed")) >= 1);
}

void tst_HistoryManager::readOnlyDataFolderMakesTestsWaitNotVanish()
{
    Rig rig(HistorySetting{}, false);
    // Root writes through permissions, so as root the folder is a read-only file system.
    std::unique_ptr<SmallFileSystem> readOnly;
    if (::geteuid() == 0) {
        readOnly = std::make_unique<SmallFileSystem>(HistoryManager::dataDir(), "size=4m");
        if (!readOnly->isMounted() || !readOnly->remount("ro,size=4m"))
            QSKIP("cannot mount a read-only tmpfs here (needs CAP_SYS_ADMIN)");
    } else {
        QVERIFY(QDir().mkpath(HistoryManager::dataDir()));
        QVERIFY(QFile::setPermissions(HistoryManager::dataDir(), QFile::ReadOwner | QFile::ExeOwner));
    }
    rig.start();
    const HistoryRecord record = makeRecord(1, QStringLiteral("R1"), QStringLiteral("c"), 1);
    QVERIFY(post(record));
    QTRY_COMPARE(HistoryManager::instance()->waitingItems(), 1);
    QCOMPARE(HistoryManager::instance()->state(), HistoryManager::State::Waiting);
    if (readOnly)
        QVERIFY(readOnly->remount("rw,size=4m"));
    else
        QVERIFY(QFile::setPermissions(HistoryManager::dataDir(),
                                      QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    QTRY_COMPARE_WITH_TIMEOUT(HistoryManager::instance()->state(), HistoryManager::State::Ready, 15000);
    const QStringList lines = rig.stop();
    QCOMPARE(storedCount(HistorySetting{}, HistoryManager::databasePath()), 1);
    QCOMPARE(linesWith(lines, QStringLiteral("HistoryManager Open Failed")), 1);
}

void tst_HistoryManager::serverStoppedMidRunGetsEveryTestOnce()
{
    NEED_SERVER();
    // A server of this test's own, since it is stopped and started again.
    PostgresServer server;
    QVERIFY2(server.start(), qPrintable(server.errorString()));
    QVERIFY(server.createDatabase(QStringLiteral("outage")));
    const HistorySetting setting = HistoryTestKit::serverSetting(server, QStringLiteral("outage"));

    Rig rig(setting);
    QTRY_COMPARE(HistoryManager::instance()->state(), HistoryManager::State::Ready);
    QList<HistoryRecord> records;
    const auto keep = [&records](int count) {
        for (int i = 0; i < count; ++i) {
            records << makeRecord(static_cast<int>(records.size()), QStringLiteral("S%1").arg(records.size()),
                                  QStringLiteral("c"), records.size());
            QVERIFY(post(records.last()));
        }
    };
    keep(5);
    QTRY_COMPARE(storedCount(setting, QString()), 5);
    QVERIFY(server.stop());
    keep(5);
    const HistoryEventMessage saved =
        toMessage(HistoryEvent{records.last().key, HistoryEventKind::Saved, 99, QStringLiteral("/d.doc"),
                               QStringLiteral("/p.png"), QStringLiteral("requested")});
    QVERIFY(HistoryManager::instance()->postMessage(&saved, sizeof(saved)));
    QTRY_COMPARE(HistoryManager::instance()->state(), HistoryManager::State::Waiting);
    QTRY_COMPARE(storedCount(HistorySetting{}, HistoryManager::databasePath(), true), 6);
    QVERIFY(server.start());
    keep(2);
    QTRY_COMPARE_WITH_TIMEOUT(HistoryManager::instance()->state(), HistoryManager::State::Ready, 20000);
    const QStringList lines = rig.stop();

    HistoryStore store(QStringLiteral("check"));
    QCOMPARE(store.open(setting, QString(), nullptr), HistoryStore::OpenResult::Ready);
    QCOMPARE(store.recordCount(), records.size());
    for (const HistoryRecord &record : records)
        QVERIFY(store.loadRecord(record.key));
    QCOMPARE(store.events(records[9].key).size(), 1);
    QCOMPARE(storedCount(HistorySetting{}, HistoryManager::databasePath(), true), 0);
    QCOMPARE(linesWith(lines, QStringLiteral("HistoryManager Server Unreachable")), 1);
    QCOMPARE(linesWith(lines, QStringLiteral("HistoryManager Server Reachable")), 1);
}

void tst_HistoryManager::wrongCredentialsFillTheOutbox()
{
    NEED_SERVER();
    HistorySetting setting = serverSetting(QStringLiteral("credentials"));
    setting.user = QStringLiteral("nobody_we_know");
    Rig rig(setting);
    QTRY_COMPARE(HistoryManager::instance()->state(), HistoryManager::State::Waiting);
    QVERIFY(post(makeRecord(1, QStringLiteral("W1"), QStringLiteral("c"), 1)));
    QTRY_COMPARE(storedCount(HistorySetting{}, HistoryManager::databasePath(), true), 1);
    const QStringList lines = rig.stop();
    QCOMPARE(linesWith(lines, QStringLiteral("HistoryManager Server Unreachable")), 1);
    QVERIFY(lines.join(QLatin1Char('\n')).contains(QStringLiteral("nobody_we_know")));
}

void tst_HistoryManager::silentServerCostsABoundedWait()
{
    // Accepts connections and never says a word.
    QTcpServer silent;
    QVERIFY(silent.listen(QHostAddress::LocalHost, 0));
    QList<QTcpSocket *> accepted;
    connect(&silent, &QTcpServer::newConnection, this, [&] {
        while (QTcpSocket *socket = silent.nextPendingConnection())
            accepted << socket;
    });
    HistorySetting setting;
    setting.driver = QStringLiteral("QPSQL");
    setting.host = QStringLiteral("127.0.0.1");
    setting.port = silent.serverPort();
    setting.database = QStringLiteral("kestrel");
    setting.user = QStringLiteral("kestrel");
    Rig rig(setting);
    QVERIFY(post(makeRecord(1, QStringLiteral("Q1"), QStringLiteral("c"), 1)));
    QTRY_COMPARE_WITH_TIMEOUT(storedCount(HistorySetting{}, HistoryManager::databasePath(), true), 1, 15000);
    QVERIFY(!accepted.isEmpty());
    QElapsedTimer stopping;
    stopping.start();
    const QStringList lines = rig.stop();
    // The stop makes one last attempt, bounded by the connect timeout (1 s here).
    QVERIFY2(stopping.elapsed() < 5000, qPrintable(QString::number(stopping.elapsed())));
    QCOMPARE(linesWith(lines, QStringLiteral("HistoryManager Server Unreachable")), 1);
    QCOMPARE(storedCount(HistorySetting{}, HistoryManager::databasePath(), true), 1);
}

void tst_HistoryManager::twoProcessesWriteToOneServer()
{
    NEED_SERVER();
    // A fresh database: both processes also race to build the schema.
    const HistorySetting setting = serverSetting(QStringLiteral("shared"));
    constexpr int count = 150;
    QList<std::shared_ptr<TestAppDir>> roots;
    QList<std::shared_ptr<QProcess>> writers;
    const QStringList names = {QStringLiteral("bay-a"), QStringLiteral("bay-b")};
    for (int i = 0; i < names.size(); ++i) {
        auto root = std::make_shared<TestAppDir>();
        QVERIFY(root->writeFile(QStringLiteral("Config/main.ini"), mainIni(setting)));
        roots << root;
    }
    // Made after the folders: TestAppDir points this process's paths at the newest one.
    for (int i = 0; i < names.size(); ++i) {
        auto writer = std::make_shared<QProcess>();
        writer->setProcessChannelMode(QProcess::ForwardedChannels);
        writer->start(QStringLiteral(HISTORY_WRITER), {roots[i]->root(), QString::number(count), names[i]});
        writers << writer;
    }
    for (const auto &writer : writers) {
        QVERIFY(writer->waitForFinished(120000));
        QCOMPARE(writer->exitCode(), 0);
    }
    HistoryStore store(QStringLiteral("check"));
    QCOMPARE(store.open(setting, QString(), nullptr), HistoryStore::OpenResult::Ready);
    QCOMPARE(store.recordCount(), 2 * count);
    for (const QString &name : names) {
        for (int n = 0; n < count; ++n) {
            const std::optional<HistoryRecord> record =
                store.loadRecord(QUuid::createUuidV5(QUuid(), QStringLiteral("%1-%2").arg(name).arg(n)));
            QVERIFY(record);
            QCOMPARE(record->customer, name);
        }
    }
    QSqlQuery versions(store.database());
    QVERIFY(versions.exec(QStringLiteral("SELECT COUNT(*) FROM schema_version")) && versions.next());
    QCOMPARE(versions.value(0).toInt(), HistorySchema::latestVersion());
}

QTEST_GUILESS_MAIN(tst_HistoryManager)
#include "tst_HistoryManager.moc"
