#pragma once

#include <QString>

// Where the history is kept: the embedded SQLite file (the default) or a shared PostgreSQL server,
// named by main.ini's "History" group. No password here: the PostgreSQL client finds it in its own
// password file (~/.pgpass, PGPASSFILE) or service file.
struct HistorySetting
{
    QString driver = QStringLiteral("QSQLITE"); // "QSQLITE" or "QPSQL"
    QString host;                               // a name, an address, or a socket folder ("/run/...")
    int port = 5432;
    QString database;
    QString user;

    bool isServer() const { return driver == QLatin1String("QPSQL"); }
    friend bool operator==(const HistorySetting &, const HistorySetting &) = default;
};
