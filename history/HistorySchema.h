#pragma once

#include <QString>

class QSqlDatabase;

// The history's tables, built by numbered migrations applied in order at start, each in its own
// transaction. The statements are plain SQL that SQLite and PostgreSQL both accept, so one
// migration path serves both; a step may add an index that only one of them has.
namespace HistorySchema {

enum class Outcome
{
    Ready,      // at the latest version (migrated if needed)
    FromFuture, // made by a newer program: left untouched
    Failed,     // the database refused a step; nothing of that step remains
};

int latestVersion();
// The version the database holds, 0 for an empty one, -1 when it cannot be read.
int currentVersion(QSqlDatabase &database);
Outcome migrate(QSqlDatabase &database, QString *error);

} // namespace HistorySchema
