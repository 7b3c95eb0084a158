#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <variant>

#include <QString>

#include "HistoryRecord.h"
#include "HistorySetting.h"
#include "Singleton.h"
#include "VirtualManager.h"

class HistoryStore;
struct HistoryEventMessage;
struct HistoryRecordMessage;

// Keeps every test: on its own thread, records the window's test when a query has ended and
// appends later events to it. Embedded SQLite (Data/history.sqlite) by default; with a shared
// PostgreSQL server the local file is the outbox while the server cannot be reached, and its
// items are sent in order once it can. Nothing is dropped for a database fault: what cannot be
// written waits in memory and is tried again.
class HistoryManager final : public VirtualManager, public Singleton<HistoryManager>
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(HistoryManager)

public:
    enum class State : int
    {
        Stopped,
        Ready,   // writing to its database
        Waiting, // a database fault: items wait and are tried again
        Off,     // the database is from a newer program; history is off for this run
    };

    HistoryManager();
    ~HistoryManager() override;

    bool initialize() override;
    bool exit() override;
    bool active() override;
    bool deactive() override;

    // Data/ beside Config/, and the embedded file in it.
    static QString dataDir();
    static QString databasePath();

    // Any thread.
    State state() const { return m_state.load(); }
    // Items the manager holds in memory because no database took them yet.
    int waitingItems() const { return m_waitingCount.load(); }

    // How long a connection attempt to the server may take (tests make it short).
    void setConnectTimeoutSeconds(int seconds) { m_connectTimeoutSeconds = seconds; }
    void setRetryIntervalMs(int milliseconds) { m_retryIntervalMs = milliseconds; }

protected:
    void onThreadStarted(const MessageHeader *message) override;
    void onThreadStopping(const MessageHeader *message) override;

private:
    using Item = std::variant<HistoryRecord, HistoryEvent>;

    void onRecord(const HistoryRecordMessage *message);
    void onEvent(const HistoryEventMessage *message);
    void onRetryTimer(std::int32_t key);

    void openDatabases();
    bool openLocal();
    bool openServer();
    void deliver(const Item &item);
    bool writeLocal(const Item &item);
    bool sendToServer(const Item &item);
    void flushWaiting();
    void flushOutbox();
    void serverLost(const QString &error);
    void scheduleRetry();
    void updateState();
    void writeRunLog(const QString &text) const;

    HistorySetting m_setting;
    QString m_workstation;
    std::unique_ptr<HistoryStore> m_local;
    std::unique_ptr<HistoryStore> m_server;
    bool m_off = false;
    bool m_serverDown = false;   // an outage is under way (logged once)
    bool m_localFailing = false; // a local write fault is under way (logged once)
    bool m_retryScheduled = false;
    std::deque<Item> m_waiting;
    std::atomic<State> m_state{State::Stopped};
    std::atomic<int> m_waitingCount{0};
    int m_connectTimeoutSeconds = 3;
    int m_retryIntervalMs = 5000;
};
