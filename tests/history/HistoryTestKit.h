#pragma once

#include <memory>

#include <QString>
#include <QTemporaryDir>

#include "HistoryRecord.h"
#include "HistorySetting.h"
#include "HistoryStore.h"

class PostgresServer;

// What the history tests share: records with every field set from a seed, and a fresh, empty
// database of either kind.
namespace HistoryTestKit {

// A test whose every value differs from its neighbour's (seed picks them).
HistoryRecord makeRecord(int seed, const QString &registration, const QString &customer,
                         std::int64_t testedUtcMs);

// The setting that reaches `database` on the server as its bootstrap role.
HistorySetting serverSetting(const PostgresServer &server, const QString &database);

// One PostgreSQL server for the whole test program, started on first use; null (with the
// reason) when the programs are missing or it would not start.
PostgresServer *sharedServer(QString *whyNot);
void stopSharedServer();

// A new empty database: an SQLite file in `folder`, or a new database on the shared server.
// Returns the setting and, for SQLite, the path.
bool freshDatabase(const QString &driver, const QTemporaryDir &folder, HistorySetting *setting, QString *path,
                   QString *whyNot);

} // namespace HistoryTestKit
