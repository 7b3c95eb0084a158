#include "HistoryManager.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "AppPaths.h"
#include "ConfigManager.h"
#include "HistoryMessages.h"
#include "HistoryStore.h"
#include "LogManager.h"

namespace {

constexpr std::int32_t retryTimerKey = 1;
// What waits in memory is bounded; beyond it the oldest waiting item is given up and logged.
constexpr std::size_t maxWaitingItems = 10000;
// Outbox items sent per retry, so that a long outbox does not hold the thread for long at once.
constexpr int outboxBatch = 500;

QString localConnectionName()
{
    return QStringLiteral("history-local");
}
QString serverConnectionName()
{
    return QStringLiteral("history-server");
}

} // namespace

HistoryManager::HistoryManager() = default;

HistoryManager::~HistoryManager() = default;

QString HistoryManager::dataDir()
{
    return AppPaths::applicationDir() + QStringLiteral("/../Data");
}

QString HistoryManager::databasePath()
{
    return dataDir() + QStringLiteral("/history.sqlite");
}

bool HistoryManager::initialize()
{
    if (!VirtualManager::initialize())
        return false;
    LogManager::instance();
    registerMessageHandler(MSG_HISTORY_RECORD, &HistoryManager::onRecord);
    registerMessageHandler(MSG_HISTORY_EVENT, &HistoryManager::onEvent);
    registerTimerHandler(retryTimerKey, &HistoryManager::onRetryTimer);
    return true;
}

bool HistoryManager::exit()
{
    unregisterMessageHandler(MSG_HISTORY_RECORD);
    unregisterMessageHandler(MSG_HISTORY_EVENT);
    unregisterTimerHandler(retryTimerKey);
    return VirtualManager::exit();
}

bool HistoryManager::active()
{
    // The databases are opened on the manager's own thread (its first message), never here:
    // the GUI thread does not wait for a database, not even at start.
    return VirtualManager::active();
}

bool HistoryManager::deactive()
{
    const bool stopped = VirtualManager::deactive();
    m_state = State::Stopped;
    return stopped;
}

void HistoryManager::writeRunLog(const QString &text) const
{
    LogManager::instance()->writeRunLog(text);
}

void HistoryManager::onThreadStarted(const MessageHeader *)
{
    m_setting = ConfigManager::instance()->historySetting();
    m_workstation = ConfigManager::instance()->workstation();
    openDatabases();
    startKeyTimer(retryTimerKey, m_retryIntervalMs, 0);
}

void HistoryManager::onThreadStopping(const MessageHeader *message)
{
    // A last try for whatever still waits, then the connections go with the thread that made them.
    if (!m_off) {
        if (m_server && m_serverDown)
            openServer();
        flushWaiting();
        flushOutbox();
    }
    if (!m_waiting.empty())
        writeRunLog(QStringLiteral("HistoryManager Tests Not Kept At Exit, Count:%1").arg(m_waiting.size()));
    m_waiting.clear();
    m_waitingCount = 0;
    m_local.reset();
    m_server.reset();
    VirtualManager::onThreadStopping(message);
}

void HistoryManager::openDatabases()
{
    m_off = false;
    if (!openLocal() || m_off) {
        updateState();
        return;
    }
    if (m_setting.isServer()) {
        m_server = std::make_unique<HistoryStore>(serverConnectionName());
        // A first failure is an outage like any later one: logged once, the outbox takes the items.
        m_serverDown = false;
        openServer();
    }
    updateState();
}

bool HistoryManager::openLocal()
{
    const QString path = databasePath();
    if (!m_local)
        m_local = std::make_unique<HistoryStore>(localConnectionName());
    if (m_local->isOpen())
        return true;
    if (!QDir().mkpath(dataDir())) {
        if (!m_localFailing)
            writeRunLog(QStringLiteral("HistoryManager Open Failed, File:%1, Error:%2")
                            .arg(path, QStringLiteral("folder cannot be made")));
        m_localFailing = true;
        return false;
    }
    HistorySetting local;
    QString error;
    HistoryStore::OpenResult result = m_local->open(local, path, &error);
    if (result == HistoryStore::OpenResult::NotDatabase) {
        // Kept for whoever wants to rescue it; the program carries on with a fresh file.
        const QString aside = path + QStringLiteral(".corrupt-") +
                              QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMdd-hhmmss"));
        bool moved = QFile::rename(path, aside);
        for (const QString &suffix : {QStringLiteral("-wal"), QStringLiteral("-shm")}) {
            if (QFileInfo::exists(path + suffix))
                moved = QFile::rename(path + suffix, aside + suffix) && moved;
        }
        writeRunLog(
            QStringLiteral("HistoryManager Damaged File Moved Aside, File:%1, Kept As:%2, Moved:%3, Error:%4")
                .arg(path, aside, moved ? QStringLiteral("yes") : QStringLiteral("no"), error));
        if (moved)
            result = m_local->open(local, path, &error);
    }
    switch (result) {
    case HistoryStore::OpenResult::Ready:
        if (m_localFailing)
            writeRunLog(QStringLiteral("HistoryManager Open Succeeded, File:%1").arg(path));
        m_localFailing = false;
        return true;
    case HistoryStore::OpenResult::FromFuture:
        m_off = true;
        writeRunLog(QStringLiteral(
                        "HistoryManager Database From A Newer Version Left Untouched, History Off, File:%1")
                        .arg(path));
        return false;
    default:
        if (!m_localFailing)
            writeRunLog(QStringLiteral("HistoryManager Open Failed, File:%1, Error:%2").arg(path, error));
        m_localFailing = true;
        return false;
    }
}

bool HistoryManager::openServer()
{
    QString error;
    const HistoryStore::OpenResult result =
        m_server->open(m_setting, QString(), &error, m_connectTimeoutSeconds);
    if (result == HistoryStore::OpenResult::Ready) {
        if (m_serverDown) {
            m_serverDown = false;
            writeRunLog(QStringLiteral("HistoryManager Server Reachable, Host:%1, Database:%2")
                            .arg(m_setting.host, m_setting.database));
        }
        return true;
    }
    if (result == HistoryStore::OpenResult::FromFuture) {
        m_off = true;
        writeRunLog(QStringLiteral(
                        "HistoryManager Database From A Newer Version Left Untouched, History Off, Host:%1, "
                        "Database:%2")
                        .arg(m_setting.host, m_setting.database));
        return false;
    }
    serverLost(error);
    return false;
}

void HistoryManager::serverLost(const QString &error)
{
    m_server->close();
    // One line per outage, however many attempts it takes; the recovery has its own line.
    if (!m_serverDown)
        writeRunLog(
            QStringLiteral("HistoryManager Server Unreachable, Outbox Used, Host:%1, Database:%2, Error:%3")
                .arg(m_setting.host, m_setting.database, error.simplified()));
    m_serverDown = true;
}

void HistoryManager::updateState()
{
    if (m_off)
        m_state = State::Off;
    else if (!m_waiting.empty() || m_localFailing || (m_server && m_serverDown))
        m_state = State::Waiting;
    else
        m_state = State::Ready;
    m_waitingCount = static_cast<int>(m_waiting.size());
}

void HistoryManager::onRecord(const HistoryRecordMessage *message)
{
    if (m_off || !HistoryRules::hasTesterData(message->record))
        return;
    deliver(fromMessage(*message, m_workstation));
}

void HistoryManager::onEvent(const HistoryEventMessage *message)
{
    if (m_off)
        return;
    deliver(fromMessage(*message));
}

void HistoryManager::deliver(const Item &item)
{
    // Order is kept: nothing overtakes what already waits, in memory or in the outbox.
    if (m_waiting.empty()) {
        if (m_server && !m_serverDown && m_local && m_local->isOpen() && m_local->outboxCount() == 0 &&
            sendToServer(item)) {
            updateState();
            return;
        }
        if (writeLocal(item)) {
            updateState();
            return;
        }
    }
    if (m_waiting.size() >= maxWaitingItems) {
        writeRunLog(QStringLiteral("HistoryManager Waiting Items Full, Oldest Given Up, Limit:%1")
                        .arg(maxWaitingItems));
        m_waiting.pop_front();
    }
    m_waiting.push_back(item);
    updateState();
}

bool HistoryManager::writeLocal(const Item &item)
{
    if (!m_local || !m_local->isOpen()) {
        if (!openLocal())
            return false;
    }
    bool written = false;
    if (m_server) {
        written = std::visit([this](const auto &value) { return m_local->enqueue(value); }, item);
    } else if (const auto *record = std::get_if<HistoryRecord>(&item)) {
        written = m_local->insertRecord(*record);
    } else {
        written = m_local->appendEvent(std::get<HistoryEvent>(item));
    }
    if (written) {
        if (m_localFailing)
            writeRunLog(QStringLiteral("HistoryManager Write Succeeded Again, File:%1").arg(databasePath()));
        m_localFailing = false;
        return true;
    }
    if (!m_localFailing)
        writeRunLog(QStringLiteral("HistoryManager Write Failed, File:%1, Error:%2")
                        .arg(databasePath(), m_local->lastError()));
    m_localFailing = true;
    return false;
}

bool HistoryManager::sendToServer(const Item &item)
{
    bool sent = false;
    if (const auto *record = std::get_if<HistoryRecord>(&item))
        sent = m_server->insertRecord(*record);
    else
        sent = m_server->appendEvent(std::get<HistoryEvent>(item));
    if (!sent)
        serverLost(m_server->lastError());
    return sent;
}

void HistoryManager::flushWaiting()
{
    while (!m_waiting.empty()) {
        if (m_server && !m_serverDown && m_local && m_local->isOpen() && m_local->outboxCount() == 0) {
            if (!sendToServer(m_waiting.front()) && !writeLocal(m_waiting.front()))
                break;
        } else if (!writeLocal(m_waiting.front())) {
            break;
        }
        m_waiting.pop_front();
    }
    updateState();
}

void HistoryManager::flushOutbox()
{
    if (!m_server || m_serverDown || !m_local || !m_local->isOpen())
        return;
    bool ok = true;
    const QList<HistoryStore::OutboxItem> items = m_local->outbox(outboxBatch, &ok);
    int sent = 0;
    for (const HistoryStore::OutboxItem &item : items) {
        bool delivered = true;
        if (!item.readable) {
            writeRunLog(QStringLiteral("HistoryManager Outbox Item Unreadable, Given Up, Sequence:%1")
                            .arg(item.sequenceNo));
        } else if (const auto *record = std::get_if<HistoryRecord>(&item.item)) {
            delivered = m_server->insertRecord(*record);
        } else {
            delivered = m_server->appendEvent(std::get<HistoryEvent>(item.item), item.eventKey);
        }
        if (!delivered) {
            serverLost(m_server->lastError());
            break;
        }
        // A crash between the two steps sends the item again; its key makes that harmless.
        if (!m_local->removeFromOutbox(item.sequenceNo))
            break;
        ++sent;
    }
    if (sent > 0)
        writeRunLog(QStringLiteral("HistoryManager Outbox Sent, Items:%1, Left:%2")
                        .arg(sent)
                        .arg(m_local->outboxCount()));
    updateState();
}

void HistoryManager::onRetryTimer(std::int32_t)
{
    if (m_off)
        return;
    if (!m_local || !m_local->isOpen())
        openLocal();
    if (m_server && m_serverDown)
        openServer();
    flushWaiting();
    flushOutbox();
    updateState();
}
