#include "HistorySchema.h"

#include <QSqlDatabase>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QStringList>

namespace HistorySchema {

namespace {

struct Migration
{
    int version;
    QStringList statements; // both databases
    // PostgreSQL only, after the shared ones. Speed-ups only: when the server cannot do them (an
    // extension not installed or not allowed), the step goes ahead without them.
    QStringList postgresqlSpeedUps;
    QStringList sqliteSpeedUps;
};

// Never edit a step once it has shipped; add the next one instead.
const QList<Migration> &migrations()
{
    static const QList<Migration> steps = {
        {1,
         {
             QStringLiteral(
                 "CREATE TABLE test_record ("
                 " record_key VARCHAR(36) PRIMARY KEY,"
                 " workstation TEXT NOT NULL,"
                 " tested_utc_ms BIGINT NOT NULL,"
                 " utc_offset_s INTEGER NOT NULL,"
                 " port_name TEXT NOT NULL,"
                 " customer TEXT NOT NULL,"
                 " battery_model TEXT NOT NULL,"
                 " registration TEXT NOT NULL,"
                 " registration_hex VARCHAR(32) NOT NULL,"
                 " search_text TEXT NOT NULL,"
                 " overall_result SMALLINT NOT NULL,"
                 " date_year INTEGER NOT NULL, date_month INTEGER NOT NULL, date_day INTEGER NOT NULL,"
                 " capacity INTEGER NOT NULL,"
                 " battery_status INTEGER NOT NULL, battery_voltage INTEGER NOT NULL,"
                 " battery_rating INTEGER NOT NULL, battery_rating_standard INTEGER NOT NULL,"
                 " battery_resistance INTEGER NOT NULL, battery_percent INTEGER NOT NULL,"
                 " grounding_status INTEGER NOT NULL, grounding_resistance INTEGER NOT NULL,"
                 " starter_status INTEGER NOT NULL, starter_extra INTEGER NOT NULL,"
                 " starter_cranking_voltage INTEGER NOT NULL,"
                 " charging3k_status INTEGER NOT NULL, charging3k_high INTEGER NOT NULL,"
                 " charging3k_low INTEGER NOT NULL,"
                 " charging2k_status INTEGER NOT NULL, charging2k_high INTEGER NOT NULL,"
                 " charging2k_low INTEGER NOT NULL,"
                 " avg2k_status INTEGER NOT NULL, avg2k_voltage INTEGER NOT NULL)"),
             QStringLiteral("CREATE INDEX test_record_time ON test_record (tested_utc_ms)"),
             QStringLiteral("CREATE TABLE test_event ("
                            " event_key VARCHAR(36) PRIMARY KEY,"
                            " record_key VARCHAR(36) NOT NULL"
                            "  REFERENCES test_record (record_key) ON DELETE CASCADE,"
                            " event_utc_ms BIGINT NOT NULL,"
                            " kind SMALLINT NOT NULL,"
                            " document_path TEXT NOT NULL,"
                            " picture_path TEXT NOT NULL,"
                            " outcome TEXT NOT NULL)"),
             QStringLiteral("CREATE INDEX test_event_record ON test_event (record_key)"),
             // Items waiting for the shared server, oldest first; used in the local file only.
             QStringLiteral("CREATE TABLE outbox ("
                            " sequence_no BIGINT PRIMARY KEY,"
                            " item_key VARCHAR(36) NOT NULL,"
                            " payload TEXT NOT NULL)"),
         },
         {},
         {}},
        // Substring search over a large history: trigram indexes, pg_trgm on PostgreSQL (its contrib
        // package) and FTS5 on SQLite. The SQLite index follows the table through its row ids, kept in
        // step by triggers; kestrel never runs VACUUM, which may renumber them.
        {2,
         {},
         {
             QStringLiteral("CREATE EXTENSION IF NOT EXISTS pg_trgm"),
             QStringLiteral(
                 "CREATE INDEX test_record_search ON test_record USING gin (search_text gin_trgm_ops)"),
         },
         {
             QStringLiteral(
                 "CREATE VIRTUAL TABLE test_record_search USING fts5(search_text, content='test_record',"
                 " content_rowid='rowid', tokenize='trigram')"),
             QStringLiteral(
                 "CREATE TRIGGER test_record_search_insert AFTER INSERT ON test_record BEGIN"
                 " INSERT INTO test_record_search (rowid, search_text) VALUES (new.rowid, new.search_text);"
                 " END"),
             QStringLiteral("CREATE TRIGGER test_record_search_delete AFTER DELETE ON test_record BEGIN"
                            " INSERT INTO test_record_search (test_record_search, rowid, search_text)"
                            " VALUES ('delete', old.rowid, old.search_text); END"),
             QStringLiteral("INSERT INTO test_record_search (test_record_search) VALUES ('rebuild')"),
         }},
    };
    return steps;
}

bool isPostgresql(const QSqlDatabase &database)
{
    return database.driver()->dbmsType() == QSqlDriver::PostgreSQL;
}

bool run(QSqlDatabase &database, const QString &statement, QString *error)
{
    QSqlQuery query(database);
    if (query.exec(statement))
        return true;
    if (error)
        *error = query.lastError().text();
    return false;
}

// Inside the step's transaction: waits until no other program is migrating the same database.
bool lockForMigration(QSqlDatabase &database, QString *error)
{
    if (isPostgresql(database))
        return run(database, QStringLiteral("LOCK TABLE schema_version IN EXCLUSIVE MODE"), error);
    // SQLite: the first write takes the file's write lock for the rest of the transaction.
    return run(database, QStringLiteral("UPDATE schema_version SET version = version WHERE 0 = 1"), error);
}

} // namespace

int latestVersion()
{
    return migrations().last().version;
}

int currentVersion(QSqlDatabase &database)
{
    QSqlQuery query(database);
    if (!query.exec(QStringLiteral("SELECT MAX(version) FROM schema_version")) || !query.next())
        return -1;
    return query.value(0).isNull() ? 0 : query.value(0).toInt();
}

Outcome migrate(QSqlDatabase &database, QString *error)
{
    // The usual case, one query: already up to date (or from the future).
    {
        QSqlQuery query(database);
        if (query.exec(QStringLiteral("SELECT MAX(version) FROM schema_version")) && query.next() &&
            !query.value(0).isNull()) {
            const int version = query.value(0).toInt();
            if (version > latestVersion())
                return Outcome::FromFuture;
            if (version == latestVersion())
                return Outcome::Ready;
        }
    }
    if (!database.tables().contains(QStringLiteral("schema_version")) &&
        !run(database, QStringLiteral("CREATE TABLE IF NOT EXISTS schema_version (version INTEGER NOT NULL)"),
             error)) {
        // Another program may have made it at the same moment; only a missing table is a failure.
        if (!database.tables().contains(QStringLiteral("schema_version")))
            return Outcome::Failed;
    }
    for (const Migration &step : migrations()) {
        int version = currentVersion(database);
        if (version < 0) {
            if (error)
                *error = QStringLiteral("schema version unreadable");
            return Outcome::Failed;
        }
        if (version > latestVersion())
            return Outcome::FromFuture;
        if (version >= step.version)
            continue;
        if (!database.transaction()) {
            if (error)
                *error = database.lastError().text();
            return Outcome::Failed;
        }
        bool ok = lockForMigration(database, error);
        // Another program may have applied this step while this one waited for the lock.
        version = ok ? currentVersion(database) : -1;
        ok = ok && version >= 0;
        if (ok && version < step.version) {
            for (const QString &statement : step.statements)
                ok = ok && run(database, statement, error);
            const QStringList &speedUps =
                isPostgresql(database) ? step.postgresqlSpeedUps : step.sqliteSpeedUps;
            if (ok && !speedUps.isEmpty()) {
                bool done = run(database, QStringLiteral("SAVEPOINT speed_up"), error);
                for (const QString &statement : speedUps)
                    done = done && run(database, statement, nullptr);
                ok = run(database,
                         done ? QStringLiteral("RELEASE SAVEPOINT speed_up")
                              : QStringLiteral("ROLLBACK TO SAVEPOINT speed_up"),
                         error);
            }
            QSqlQuery insert(database);
            insert.prepare(QStringLiteral("INSERT INTO schema_version (version) VALUES (?)"));
            insert.addBindValue(step.version);
            if (ok && !insert.exec()) {
                ok = false;
                if (error)
                    *error = insert.lastError().text();
            }
        }
        if (!ok || !database.commit()) {
            if (ok && error)
                *error = database.lastError().text();
            database.rollback();
            return Outcome::Failed;
        }
        if (version > latestVersion())
            return Outcome::FromFuture;
    }
    return Outcome::Ready;
}

} // namespace HistorySchema
