#pragma once

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

#include <QList>
#include <QObject>
#include <QString>
#include <QUuid>

#include "HistoryRecord.h"
#include "HistorySetting.h"
#include "HistoryStore.h"

// The history window's access to the kept tests: a read connection of its own on a thread of
// its own, so the window never waits for the database (a slow or unreachable server included).
// Requests are queued calls; every answer comes back as a signal carrying the request's number.
class HistoryReader final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(HistoryReader)

public:
    // Starts the thread; the database is opened on it at the first request.
    HistoryReader(const HistorySetting &setting, const QString &databasePath, QObject *parent = nullptr);
    ~HistoryReader() override;

    // Opens the connection now, so that the first request does not wait for it (worth it for a
    // server, where a connection takes tens of milliseconds).
    void prepare();

    // Any thread: each returns the request number its answer will carry.
    int requestPage(const HistoryFilter &filter, const std::optional<HistoryRow> &after, int limit);
    int requestRecord(const QUuid &key);
    int requestRemove(const QUuid &key);
    // Writes CSV of the given tests, or (no keys) of every test the filter finds.
    int requestExport(const HistoryFilter &filter, const QList<QUuid> &keys, const QString &path);

signals:
    void pageReady(int request, const QList<HistoryRow> &rows, bool ok, const QString &error);
    void recordReady(int request, const std::optional<HistoryRecord> &record, const QString &error);
    void removeDone(int request, bool ok, const QString &error);
    void exportDone(int request, bool ok, int rows, const QString &error);

private:
    class Worker;
    // An answer emits its signal on this object's thread; a task makes one on the reader's thread.
    using Answer = std::function<void()>;
    using Task = std::function<Answer(Worker &)>;

    void run(const HistorySetting &setting, const QString &databasePath);
    void enqueue(Task task);
    Q_INVOKABLE void deliverAnswers();

    std::mutex m_lock;
    std::condition_variable m_wake;
    std::deque<Task> m_tasks;
    std::deque<Answer> m_answers;
    bool m_stopping = false;
    std::atomic<int> m_nextRequest{1};
    std::thread m_thread; // last: started once everything above exists
};
