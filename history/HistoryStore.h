#pragma once

#include <cstdint>
#include <optional>
#include <variant>

#include <QList>
#include <QSqlDatabase>
#include <QString>
#include <QUuid>

#include "HistoryRecord.h"
#include "HistorySetting.h"

// What the history list asks for: a search text (registration or customer, anywhere in it, any
// case), a time range, and an order. Rows come in pages; the next page starts after the last row
// of the previous one (keyset paging, so a page costs the same at any depth).
struct HistoryFilter
{
    enum class Column : int
    {
        Time = 0,
        Registration,
        Customer,
        BatteryModel,
        Result,
        Workstation,
    };
    QString text;
    std::int64_t fromUtcMs = 0;       // inclusive
    std::int64_t toUtcMs = INT64_MAX; // exclusive
    Column sortColumn = Column::Time;
    bool descending = true;
};

// The Qt SQL side of the history: one named connection, used by the one thread that opened it.
// Every value goes through bound parameters.
class HistoryStore final
{
    Q_DISABLE_COPY_MOVE(HistoryStore)

public:
    enum class OpenResult
    {
        Ready,
        FromFuture,  // made by a newer program: left untouched, not to be used
        NotDatabase, // the file is not an SQLite database or is damaged
        Unreachable, // no connection (server down, refused, timed out, wrong credentials)
        Failed,      // connected, but the schema could not be brought up to date
    };

    struct OutboxItem
    {
        std::int64_t sequenceNo = 0;
        bool readable = false; // false: the stored payload could not be read back
        std::variant<HistoryRecord, HistoryEvent> item;
        QUuid eventKey; // events: fixed when queued, so that a second sending is recognised
    };

    explicit HistoryStore(const QString &connectionName);
    ~HistoryStore();

    // SQLite: `path` is the file. PostgreSQL: the setting names the server; a connection attempt
    // waits at most connectTimeoutSeconds.
    OpenResult open(const HistorySetting &setting, const QString &path, QString *error,
                    int connectTimeoutSeconds = 5);
    void close();
    bool isOpen() const;
    bool isServer() const { return m_server; }
    QString lastError() const { return m_lastError; }

    // A record whose key is already stored is left as it is and counts as stored.
    bool insertRecord(const HistoryRecord &record);
    // An event whose record is not (or no longer) stored is dropped and counts as stored.
    bool appendEvent(const HistoryEvent &event);
    bool appendEvent(const HistoryEvent &event, const QUuid &eventKey);
    bool removeRecord(const QUuid &key);
    std::optional<HistoryRecord> loadRecord(const QUuid &key, bool *ok = nullptr);
    QList<HistoryEvent> events(const QUuid &key, bool *ok = nullptr);
    // Rows after `after` (none: from the start) in the filter's order; ok false on a failure.
    QList<HistoryRow> search(const HistoryFilter &filter, const std::optional<HistoryRow> &after, int limit,
                             bool *ok = nullptr);
    std::int64_t recordCount(bool *ok = nullptr);

    // The outbox (local file only): items for the shared server, in the order they were made.
    bool enqueue(const HistoryRecord &record);
    bool enqueue(const HistoryEvent &event);
    QList<OutboxItem> outbox(int limit, bool *ok = nullptr);
    bool removeFromOutbox(std::int64_t sequenceNo);
    std::int64_t outboxCount(bool *ok = nullptr);

    QSqlDatabase database() const;

private:
    OpenResult connectAndMigrate(const HistorySetting &setting, const QString &path,
                                 int connectTimeoutSeconds, QString *error);
    bool fail(const QSqlQuery &query);
    bool fewMatchesInTrigramIndex(const QString &text);
    bool enqueuePayload(const QString &itemKey, const QByteArray &payload);

    QString m_connectionName;
    QString m_lastError;
    bool m_server = false;
    bool m_trigramIndex = false; // SQLite: the FTS5 trigram index exists
};
