#pragma once

#include <QString>
#include <QTemporaryDir>

// A real PostgreSQL server for one test: initdb into a temporary folder, started and stopped with
// pg_ctl, listening only on a Unix socket in that folder (no TCP port, nothing to collide with).
// The server runs as an unprivileged user: as root, the programs run as "nobody"; otherwise as the
// test's own user. The bootstrap role "kestrel" is a superuser with trust authentication.
class PostgresServer final
{
public:
    PostgresServer();
    ~PostgresServer();

    // Empty when the server programs are installed; otherwise why a test has to skip.
    static QString unavailableReason();

    // initdb (once), then start and wait until the server accepts connections.
    bool start();
    bool stop();
    bool isRunning() const { return m_running; }
    // Runs one SQL command through psql as the bootstrap role, in `database`.
    bool runSql(const QString &sql, const QString &database = QStringLiteral("postgres"));
    bool createDatabase(const QString &name);

    QString socketDir() const { return m_dir.path(); }
    int port() const { return m_port; }
    QString user() const { return QStringLiteral("kestrel"); }
    QString errorString() const { return m_error; }
    QString serverLog() const;

private:
    bool run(const QString &program, const QStringList &arguments, int timeoutMs);

    QTemporaryDir m_dir;
    int m_port = 0;
    bool m_initialised = false;
    bool m_running = false;
    QString m_error;
};
