#include "HistoryStore.h"

#include <QFile>
#include <QFileInfo>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>

#include "HistorySchema.h"

namespace {

// SQLite creates its file readable only by its maker's group (its journal files copy that mode).
// In a folder whose group lets others write, as the installed tree's Data/ shared by the operators,
// the history is theirs too: the file gets the group's write permission.
void shareWithFolderGroup(const QString &path)
{
    const QFileInfo folder(QFileInfo(path).absolutePath());
    QFile file(path);
    if (!folder.permission(QFileDevice::WriteGroup) || !file.exists() ||
        file.permissions().testFlag(QFileDevice::WriteGroup))
        return;
    file.setPermissions(file.permissions() | QFileDevice::ReadGroup | QFileDevice::WriteGroup);
}

// SQLite's result codes for a file that is not a database or is damaged.
constexpr int sqliteCorrupt = 11;
constexpr int sqliteNotADatabase = 26;

// How long a write waits for another program's lock on the SQLite file.
constexpr int sqliteBusyTimeoutMs = 3000;

constexpr char recordColumns[] =
    "record_key, workstation, tested_utc_ms, utc_offset_s, port_name, customer, battery_model,"
    " registration, registration_hex, search_text, overall_result, date_year, date_month, date_day,"
    " capacity, battery_status, battery_voltage, battery_rating, battery_rating_standard,"
    " battery_resistance, battery_percent, grounding_status, grounding_resistance, starter_status,"
    " starter_extra, starter_cranking_voltage, charging3k_status, charging3k_high, charging3k_low,"
    " charging2k_status, charging2k_high, charging2k_low, avg2k_status, avg2k_voltage";
constexpr int recordColumnCount = 34;

constexpr char rowColumns[] = "record_key, tested_utc_ms, utc_offset_s, registration, customer, "
                              "battery_model, overall_result, workstation";

// Qt SQL binds a null QString as SQL NULL; an absent text is stored as an empty one.
QString text(const QString &value)
{
    return value.isNull() ? QStringLiteral("") : value;
}

QString keyText(const QUuid &key)
{
    return key.toString(QUuid::WithoutBraces);
}

QList<QVariant> recordValues(const HistoryRecord &history)
{
    const TestRecord &r = history.record;
    const QString registration = TestRecordRules::registrationText(r.registrationNoInfo);
    return {keyText(history.key),
            text(history.workstation),
            static_cast<qlonglong>(history.testedUtcMs),
            history.utcOffsetSeconds,
            text(history.portName),
            text(history.customer),
            text(history.batteryModel),
            text(registration),
            text(HistoryRules::registrationHex(r.registrationNoInfo)),
            HistoryRules::searchText(registration, history.customer),
            static_cast<int>(HistoryRules::overallResult(r)),
            r.testDate.year,
            r.testDate.month,
            r.testDate.day,
            r.capacityInfo.capacity,
            r.battery.status,
            r.battery.voltage,
            r.battery.measuredRating,
            r.battery.ratingStandard,
            r.battery.resistance,
            r.battery.percent,
            r.grounding.status,
            r.grounding.resistance,
            r.starter.status,
            r.starter.extraValue,
            r.starter.crankingVoltage,
            r.charging3K.status,
            r.charging3K.highVoltage,
            r.charging3K.lowVoltage,
            r.charging2K.status,
            r.charging2K.highVoltage,
            r.charging2K.lowVoltage,
            r.avg2K.status,
            r.avg2K.voltage};
}

template <typename T> T as(const QVariant &value)
{
    return static_cast<T>(value.toLongLong());
}

HistoryRecord recordFromValues(const QList<QVariant> &v)
{
    HistoryRecord history;
    history.key = QUuid::fromString(v[0].toString());
    history.workstation = v[1].toString();
    history.testedUtcMs = v[2].toLongLong();
    history.utcOffsetSeconds = v[3].toInt();
    history.portName = v[4].toString();
    history.customer = v[5].toString();
    history.batteryModel = v[6].toString();
    // 7 (display text), 9 (search text) and 10 (verdict) are derived from the values.
    TestRecord &r = history.record;
    r.registrationNoInfo = HistoryRules::registrationFromHex(v[8].toString());
    r.testDate = makeTestDate();
    r.testDate.year = as<std::uint16_t>(v[11]);
    r.testDate.month = as<std::int16_t>(v[12]);
    r.testDate.day = as<std::int16_t>(v[13]);
    r.capacityInfo = makeCapacityInfo();
    r.capacityInfo.capacity = as<std::uint16_t>(v[14]);
    r.battery = makeBatteryResult();
    r.battery.status = as<std::int16_t>(v[15]);
    r.battery.voltage = as<std::uint16_t>(v[16]);
    r.battery.measuredRating = as<std::uint16_t>(v[17]);
    r.battery.ratingStandard = as<std::int16_t>(v[18]);
    r.battery.resistance = as<std::uint16_t>(v[19]);
    r.battery.percent = as<std::int16_t>(v[20]);
    r.grounding = makeGroundingResult();
    r.grounding.status = as<std::int16_t>(v[21]);
    r.grounding.resistance = as<std::uint16_t>(v[22]);
    r.starter = makeStarterResult();
    r.starter.status = as<std::int16_t>(v[23]);
    r.starter.extraValue = as<std::uint16_t>(v[24]);
    r.starter.crankingVoltage = as<std::uint16_t>(v[25]);
    r.charging3K = makeCharging3KResult();
    r.charging3K.status = as<std::int16_t>(v[26]);
    r.charging3K.highVoltage = as<std::uint16_t>(v[27]);
    r.charging3K.lowVoltage = as<std::uint16_t>(v[28]);
    r.charging2K = makeCharging2KResult();
    r.charging2K.status = as<std::int16_t>(v[29]);
    r.charging2K.highVoltage = as<std::uint16_t>(v[30]);
    r.charging2K.lowVoltage = as<std::uint16_t>(v[31]);
    r.avg2K = makeAvg2KResult();
    r.avg2K.status = as<std::int16_t>(v[32]);
    r.avg2K.voltage = as<std::uint16_t>(v[33]);
    return history;
}

// Outbox payloads: the same values as the table's columns, in the same order, as JSON.
QByteArray encodeRecord(const HistoryRecord &record)
{
    QJsonArray values;
    for (const QVariant &value : recordValues(record))
        values.append(QJsonValue::fromVariant(value));
    return QJsonDocument(QJsonObject{{QStringLiteral("record"), values}}).toJson(QJsonDocument::Compact);
}

QByteArray encodeEvent(const HistoryEvent &event, const QUuid &eventKey)
{
    const QJsonObject object{{QStringLiteral("event"), keyText(eventKey)},
                             {QStringLiteral("record"), keyText(event.key)},
                             {QStringLiteral("kind"), static_cast<int>(event.kind)},
                             {QStringLiteral("time"), static_cast<qint64>(event.utcMs)},
                             {QStringLiteral("document"), event.documentPath},
                             {QStringLiteral("picture"), event.picturePath},
                             {QStringLiteral("outcome"), event.outcome}};
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

} // namespace

HistoryStore::HistoryStore(const QString &connectionName) : m_connectionName(connectionName) {}

HistoryStore::~HistoryStore()
{
    close();
}

HistoryStore::OpenResult HistoryStore::open(const HistorySetting &setting, const QString &path,
                                            QString *error, int connectTimeoutSeconds)
{
    close();
    m_server = setting.isServer();
    QString text;
    const OpenResult result = connectAndMigrate(setting, path, connectTimeoutSeconds, &text);
    if (result != OpenResult::Ready) {
        // After the attempt's handles are gone, so that the connection can be removed cleanly.
        close();
    }
    m_lastError = text;
    if (error)
        *error = text;
    return result;
}

HistoryStore::OpenResult HistoryStore::connectAndMigrate(const HistorySetting &setting, const QString &path,
                                                         int connectTimeoutSeconds, QString *error)
{
    QSqlDatabase database = QSqlDatabase::addDatabase(setting.driver, m_connectionName);
    if (!database.isValid()) {
        *error = QStringLiteral("driver %1 not available").arg(setting.driver);
        return OpenResult::Failed;
    }
    if (m_server) {
        database.setHostName(setting.host);
        database.setPort(setting.port);
        database.setDatabaseName(setting.database);
        database.setUserName(setting.user);
        // Bounded waits: a server that accepts and never answers must not hold this thread.
        database.setConnectOptions(QStringLiteral("connect_timeout=%1;keepalives=1;keepalives_idle=10;"
                                                  "keepalives_interval=5;keepalives_count=2")
                                       .arg(qMax(1, connectTimeoutSeconds)));
    } else {
        database.setDatabaseName(path);
        database.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(sqliteBusyTimeoutMs));
    }
    if (!database.open()) {
        *error = database.lastError().text();
        return m_server ? OpenResult::Unreachable : OpenResult::Failed;
    }
    if (!m_server) {
        shareWithFolderGroup(path);
        // The first read of the file tells whether it is a database at all. In WAL mode NORMAL
        // survives a crash of the program; only a power cut can cost the last commits.
        QSqlQuery pragma(database);
        for (const char *statement : {"PRAGMA journal_mode=WAL", "PRAGMA foreign_keys=ON",
                                      "PRAGMA synchronous=NORMAL", "SELECT COUNT(*) FROM sqlite_master"}) {
            if (!pragma.exec(QString::fromLatin1(statement))) {
                const int code = pragma.lastError().nativeErrorCode().toInt();
                *error = pragma.lastError().text();
                return code == sqliteNotADatabase || code == sqliteCorrupt ? OpenResult::NotDatabase
                                                                           : OpenResult::Failed;
            }
        }
    }
    switch (HistorySchema::migrate(database, error)) {
    case HistorySchema::Outcome::Ready:
        m_trigramIndex = !m_server && database.tables().contains(QStringLiteral("test_record_search"));
        return OpenResult::Ready;
    case HistorySchema::Outcome::FromFuture:
        *error = QStringLiteral("schema version newer than %1").arg(HistorySchema::latestVersion());
        return OpenResult::FromFuture;
    case HistorySchema::Outcome::Failed:
        break;
    }
    const bool damaged = !m_server && (error->contains(QStringLiteral("malformed")) ||
                                       error->contains(QStringLiteral("not a database")));
    return damaged ? OpenResult::NotDatabase : OpenResult::Failed;
}

void HistoryStore::close()
{
    if (!QSqlDatabase::contains(m_connectionName))
        return;
    {
        QSqlDatabase database = QSqlDatabase::database(m_connectionName, false);
        database.close();
    }
    QSqlDatabase::removeDatabase(m_connectionName);
}

bool HistoryStore::isOpen() const
{
    return QSqlDatabase::contains(m_connectionName) && database().isOpen();
}

QSqlDatabase HistoryStore::database() const
{
    return QSqlDatabase::database(m_connectionName, false);
}

bool HistoryStore::fail(const QSqlQuery &query)
{
    m_lastError = query.lastError().text();
    return false;
}

bool HistoryStore::insertRecord(const HistoryRecord &record)
{
    QSqlQuery query(database());
    QString placeholders;
    for (int i = 0; i < recordColumnCount; ++i)
        placeholders += i == 0 ? QStringLiteral("?") : QStringLiteral(", ?");
    // The key makes a second delivery of the same test harmless.
    query.prepare(
        QStringLiteral("INSERT INTO test_record (%1) VALUES (%2) ON CONFLICT (record_key) DO NOTHING")
            .arg(QLatin1String(recordColumns), placeholders));
    for (const QVariant &value : recordValues(record))
        query.addBindValue(value);
    return query.exec() || fail(query);
}

bool HistoryStore::appendEvent(const HistoryEvent &event)
{
    return appendEvent(event, QUuid::createUuid());
}

bool HistoryStore::appendEvent(const HistoryEvent &event, const QUuid &eventKey)
{
    QSqlQuery query(database());
    query.prepare(QStringLiteral(
        "INSERT INTO test_event (event_key, record_key, event_utc_ms, kind, document_path, picture_path, "
        "outcome)"
        " SELECT CAST(? AS VARCHAR(36)), CAST(? AS VARCHAR(36)), CAST(? AS BIGINT), CAST(? AS SMALLINT),"
        " CAST(? AS TEXT), CAST(? AS TEXT), CAST(? AS TEXT)"
        " WHERE EXISTS (SELECT 1 FROM test_record WHERE record_key = ?)"
        " ON CONFLICT (event_key) DO NOTHING"));
    query.addBindValue(keyText(eventKey));
    query.addBindValue(keyText(event.key));
    query.addBindValue(static_cast<qlonglong>(event.utcMs));
    query.addBindValue(static_cast<int>(event.kind));
    query.addBindValue(text(event.documentPath));
    query.addBindValue(text(event.picturePath));
    query.addBindValue(text(event.outcome));
    query.addBindValue(keyText(event.key));
    return query.exec() || fail(query);
}

bool HistoryStore::removeRecord(const QUuid &key)
{
    QSqlQuery query(database());
    query.prepare(QStringLiteral("DELETE FROM test_record WHERE record_key = ?"));
    query.addBindValue(keyText(key));
    return query.exec() || fail(query);
}

std::optional<HistoryRecord> HistoryStore::loadRecord(const QUuid &key, bool *ok)
{
    QSqlQuery query(database());
    query.setForwardOnly(true);
    query.prepare(
        QStringLiteral("SELECT %1 FROM test_record WHERE record_key = ?").arg(QLatin1String(recordColumns)));
    query.addBindValue(keyText(key));
    const bool done = query.exec() || fail(query);
    if (ok)
        *ok = done;
    if (!done || !query.next())
        return std::nullopt;
    QList<QVariant> values;
    for (int i = 0; i < recordColumnCount; ++i)
        values.append(query.value(i));
    return recordFromValues(values);
}

QList<HistoryEvent> HistoryStore::events(const QUuid &key, bool *ok)
{
    QList<HistoryEvent> events;
    QSqlQuery query(database());
    query.setForwardOnly(true);
    query.prepare(
        QStringLiteral("SELECT event_utc_ms, kind, document_path, picture_path, outcome FROM test_event"
                       " WHERE record_key = ? ORDER BY event_utc_ms, event_key"));
    query.addBindValue(keyText(key));
    const bool done = query.exec() || fail(query);
    if (ok)
        *ok = done;
    while (done && query.next()) {
        HistoryEvent event;
        event.key = key;
        event.utcMs = query.value(0).toLongLong();
        event.kind = static_cast<HistoryEventKind>(query.value(1).toInt());
        event.documentPath = query.value(2).toString();
        event.picturePath = query.value(3).toString();
        event.outcome = query.value(4).toString();
        events.append(event);
    }
    return events;
}

QList<HistoryRow> HistoryStore::search(const HistoryFilter &filter, const std::optional<HistoryRow> &after,
                                       int limit, bool *ok)
{
    // Column names come from this fixed table, never from the caller's text.
    static const char *const sortColumns[] = {"tested_utc_ms", "registration",   "customer",
                                              "battery_model", "overall_result", "workstation"};
    const int column = static_cast<int>(filter.sortColumn);
    const QString sortColumn = QString::fromLatin1(sortColumns[column >= 0 && column < 6 ? column : 0]);
    const QString comparison = filter.descending ? QStringLiteral("<") : QStringLiteral(">");
    const QString direction = filter.descending ? QStringLiteral("DESC") : QStringLiteral("ASC");

    QString sql = QStringLiteral("SELECT %1 FROM test_record WHERE tested_utc_ms >= ? AND tested_utc_ms < ?")
                      .arg(QLatin1String(rowColumns));
    QList<QVariant> values{static_cast<qlonglong>(filter.fromUtcMs), static_cast<qlonglong>(filter.toUtcMs)};
    if (!filter.text.isEmpty()) {
        if (fewMatchesInTrigramIndex(filter.text)) {
            // A rare text: its few rows by the index, then sorted, instead of a walk over every test.
            sql += QStringLiteral(
                " AND rowid IN (SELECT rowid FROM test_record_search WHERE search_text GLOB ?)");
            values.append(HistoryRules::containsGlob(filter.text));
        }
        sql += QStringLiteral(" AND search_text LIKE ? ESCAPE '\\'");
        values.append(HistoryRules::containsPattern(filter.text));
    }
    if (after) {
        QVariant sortValue;
        switch (filter.sortColumn) {
        case HistoryFilter::Column::Time:
            sortValue = static_cast<qlonglong>(after->testedUtcMs);
            break;
        case HistoryFilter::Column::Registration:
            sortValue = after->registration;
            break;
        case HistoryFilter::Column::Customer:
            sortValue = after->customer;
            break;
        case HistoryFilter::Column::BatteryModel:
            sortValue = after->batteryModel;
            break;
        case HistoryFilter::Column::Result:
            sortValue = static_cast<int>(after->result);
            break;
        case HistoryFilter::Column::Workstation:
            sortValue = after->workstation;
            break;
        }
        sql += QStringLiteral(" AND (%1 %2 ? OR (%1 = ? AND record_key %2 ?))").arg(sortColumn, comparison);
        values << sortValue << sortValue << keyText(after->key);
    }
    sql += QStringLiteral(" ORDER BY %1 %2, record_key %2 LIMIT ?").arg(sortColumn, direction);
    values.append(limit);

    QList<HistoryRow> rows;
    QSqlQuery query(database());
    query.setForwardOnly(true);
    query.prepare(sql);
    for (const QVariant &value : values)
        query.addBindValue(value);
    const bool done = query.exec() || fail(query);
    if (ok)
        *ok = done;
    while (done && query.next()) {
        HistoryRow row;
        row.key = QUuid::fromString(query.value(0).toString());
        row.testedUtcMs = query.value(1).toLongLong();
        row.utcOffsetSeconds = query.value(2).toInt();
        row.registration = query.value(3).toString();
        row.customer = query.value(4).toString();
        row.batteryModel = query.value(5).toString();
        row.result = static_cast<HistoryResult>(query.value(6).toInt());
        row.workstation = query.value(7).toString();
        rows.append(row);
    }
    return rows;
}

bool HistoryStore::fewMatchesInTrigramIndex(const QString &text)
{
    // A common text is found soonest by walking the tests in the wanted order; a rare one would
    // make that walk visit every test. The index tells them apart by counting up to a bound.
    constexpr int fewMatches = 500;
    if (m_server || !m_trigramIndex || text.toCaseFolded().size() < 3)
        return false;
    QSqlQuery count(database());
    count.setForwardOnly(true);
    count.prepare(QStringLiteral("SELECT COUNT(*) FROM (SELECT rowid FROM test_record_search"
                                 " WHERE search_text GLOB ? LIMIT %1)")
                      .arg(fewMatches));
    count.addBindValue(HistoryRules::containsGlob(text));
    return count.exec() && count.next() && count.value(0).toInt() < fewMatches;
}

std::int64_t HistoryStore::recordCount(bool *ok)
{
    QSqlQuery query(database());
    const bool done =
        (query.exec(QStringLiteral("SELECT COUNT(*) FROM test_record")) && query.next()) || fail(query);
    if (ok)
        *ok = done;
    return done ? query.value(0).toLongLong() : 0;
}

bool HistoryStore::enqueuePayload(const QString &itemKey, const QByteArray &payload)
{
    QSqlQuery query(database());
    query.prepare(QStringLiteral(
        "INSERT INTO outbox (sequence_no, item_key, payload)"
        " SELECT COALESCE(MAX(sequence_no), 0) + 1, CAST(? AS VARCHAR(36)), CAST(? AS TEXT) FROM outbox"));
    query.addBindValue(itemKey);
    query.addBindValue(QString::fromUtf8(payload));
    return query.exec() || fail(query);
}

bool HistoryStore::enqueue(const HistoryRecord &record)
{
    return enqueuePayload(keyText(record.key), encodeRecord(record));
}

bool HistoryStore::enqueue(const HistoryEvent &event)
{
    // The event's own key is fixed here, so that a second sending of it is recognised.
    const QUuid eventKey = QUuid::createUuid();
    return enqueuePayload(keyText(eventKey), encodeEvent(event, eventKey));
}

QList<HistoryStore::OutboxItem> HistoryStore::outbox(int limit, bool *ok)
{
    QList<OutboxItem> items;
    QSqlQuery query(database());
    query.setForwardOnly(true);
    query.prepare(QStringLiteral("SELECT sequence_no, payload FROM outbox ORDER BY sequence_no LIMIT ?"));
    query.addBindValue(limit);
    const bool done = query.exec() || fail(query);
    if (ok)
        *ok = done;
    while (done && query.next()) {
        OutboxItem item;
        item.sequenceNo = query.value(0).toLongLong();
        const QJsonObject object = QJsonDocument::fromJson(query.value(1).toString().toUtf8()).object();
        if (object.contains(QStringLiteral("event"))) {
            HistoryEvent event;
            event.key = QUuid::fromString(object.value(QStringLiteral("record")).toString());
            event.kind = static_cast<HistoryEventKind>(object.value(QStringLiteral("kind")).toInt());
            event.utcMs = object.value(QStringLiteral("time")).toInteger();
            event.documentPath = object.value(QStringLiteral("document")).toString();
            event.picturePath = object.value(QStringLiteral("picture")).toString();
            event.outcome = object.value(QStringLiteral("outcome")).toString();
            item.eventKey = QUuid::fromString(object.value(QStringLiteral("event")).toString());
            item.readable = !event.key.isNull() && !item.eventKey.isNull();
            item.item = event;
        } else {
            QList<QVariant> values;
            for (const QJsonValue &value : object.value(QStringLiteral("record")).toArray())
                values.append(value.toVariant());
            item.readable = values.size() == recordColumnCount;
            if (item.readable)
                item.item = recordFromValues(values);
        }
        items.append(item);
    }
    return items;
}

bool HistoryStore::removeFromOutbox(std::int64_t sequenceNo)
{
    QSqlQuery query(database());
    query.prepare(QStringLiteral("DELETE FROM outbox WHERE sequence_no = ?"));
    query.addBindValue(static_cast<qlonglong>(sequenceNo));
    return query.exec() || fail(query);
}

std::int64_t HistoryStore::outboxCount(bool *ok)
{
    QSqlQuery query(database());
    const bool done =
        (query.exec(QStringLiteral("SELECT COUNT(*) FROM outbox")) && query.next()) || fail(query);
    if (ok)
        *ok = done;
    return done ? query.value(0).toLongLong() : 0;
}
