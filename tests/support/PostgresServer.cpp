#include "PostgresServer.h"

#include <pwd.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>

namespace {

// The newest installed server's programs (Debian keeps them per version).
QString binDir()
{
    const QDir versions(QStringLiteral("/usr/lib/postgresql"));
    QStringList names = versions.entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    std::sort(names.begin(), names.end(),
              [](const QString &a, const QString &b) { return a.toInt() > b.toInt(); });
    for (const QString &name : names) {
        const QString bin = versions.filePath(name + QStringLiteral("/bin"));
        if (QFile::exists(bin + QStringLiteral("/initdb")) && QFile::exists(bin + QStringLiteral("/pg_ctl")))
            return bin;
    }
    return QString();
}

struct Account
{
    uid_t uid = 0;
    gid_t gid = 0;
    bool change = false;
};

// PostgreSQL refuses to run as root.
Account serverAccount()
{
    Account account;
    if (::geteuid() != 0)
        return account;
    if (const passwd *entry = ::getpwnam("nobody")) {
        account.uid = entry->pw_uid;
        account.gid = entry->pw_gid;
        account.change = true;
    }
    return account;
}

} // namespace

PostgresServer::PostgresServer() : m_dir(QDir::tempPath() + QStringLiteral("/kpg-XXXXXX"))
{
    // A port number only names the socket file here; vary it anyway so servers never share one.
    m_port = 20000 + static_cast<int>(QRandomGenerator::global()->bounded(20000));
    const Account account = serverAccount();
    if (account.change && m_dir.isValid()) {
        if (::chown(QFile::encodeName(m_dir.path()).constData(), account.uid, account.gid) != 0)
            m_error = QStringLiteral("cannot give the temporary folder to the server's user");
    }
}

PostgresServer::~PostgresServer()
{
    if (m_running)
        stop();
}

QString PostgresServer::unavailableReason()
{
    if (binDir().isEmpty())
        return QStringLiteral(
            "PostgreSQL server programs (initdb, pg_ctl) not installed: scripts/deps.sh test");
    if (::geteuid() == 0 && !::getpwnam("nobody"))
        return QStringLiteral("running as root without a \"nobody\" user to run PostgreSQL as");
    return QString();
}

bool PostgresServer::run(const QString &program, const QStringList &arguments, int timeoutMs)
{
    QProcess process;
    process.setProgram(binDir() + QLatin1Char('/') + program);
    process.setArguments(arguments);
    process.setWorkingDirectory(m_dir.path());
    process.setProcessChannelMode(QProcess::MergedChannels);
    const Account account = serverAccount();
    if (account.change) {
        process.setChildProcessModifier([account] {
            // Only async-signal-safe calls between fork and exec.
            if (::setgid(account.gid) != 0 || ::setuid(account.uid) != 0)
                ::_exit(126);
        });
    }
    process.start();
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished();
        m_error = QStringLiteral("%1 did not finish").arg(program);
        return false;
    }
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        m_error = QStringLiteral("%1 failed: %2").arg(program, QString::fromLocal8Bit(process.readAll()));
        return false;
    }
    return true;
}

bool PostgresServer::start()
{
    if (!m_error.isEmpty() || !m_dir.isValid())
        return false;
    const QString data = m_dir.filePath(QStringLiteral("data"));
    if (!m_initialised) {
        if (!run(QStringLiteral("initdb"),
                 {QStringLiteral("-D"), data, QStringLiteral("-U"), user(), QStringLiteral("--auth=trust"),
                  QStringLiteral("-E"), QStringLiteral("UTF8"), QStringLiteral("--locale=C"),
                  QStringLiteral("-N")},
                 120000))
            return false;
        m_initialised = true;
    }
    const QString options = QStringLiteral("-k %1 -c listen_addresses='' -p %2 -F -c max_connections=40")
                                .arg(m_dir.path())
                                .arg(m_port);
    if (!run(QStringLiteral("pg_ctl"),
             {QStringLiteral("-D"), data, QStringLiteral("-o"), options, QStringLiteral("-l"),
              m_dir.filePath(QStringLiteral("server.log")), QStringLiteral("-w"), QStringLiteral("-t"),
              QStringLiteral("60"), QStringLiteral("start")},
             90000))
        return false;
    m_running = true;
    return true;
}

bool PostgresServer::stop()
{
    const bool stopped =
        run(QStringLiteral("pg_ctl"),
            {QStringLiteral("-D"), m_dir.filePath(QStringLiteral("data")), QStringLiteral("-m"),
             QStringLiteral("fast"), QStringLiteral("-w"), QStringLiteral("stop")},
            90000);
    if (stopped)
        m_running = false;
    return stopped;
}

bool PostgresServer::runSql(const QString &sql, const QString &database)
{
    return run(QStringLiteral("psql"),
               {QStringLiteral("-X"), QStringLiteral("-q"), QStringLiteral("-v"),
                QStringLiteral("ON_ERROR_STOP=1"), QStringLiteral("-h"), m_dir.path(), QStringLiteral("-p"),
                QString::number(m_port), QStringLiteral("-U"), user(), QStringLiteral("-d"), database,
                QStringLiteral("-c"), sql},
               60000);
}

bool PostgresServer::createDatabase(const QString &name)
{
    return runSql(QStringLiteral("CREATE DATABASE \"%1\"").arg(name));
}

QString PostgresServer::serverLog() const
{
    QFile file(m_dir.filePath(QStringLiteral("server.log")));
    return file.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(file.readAll()) : QString();
}
