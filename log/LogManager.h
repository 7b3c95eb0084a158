#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <vector>

#include <QString>

#include "LogChannel.h"
#include "LogFlag.h"
#include "LogRecordMessage.h"
#include "Singleton.h"
#include "VirtualManager.h"

// The run log. Any thread hands it one line with category flags; the log thread appends the
// time-stamped line to each category's rotated file under Log/<Category>/<program>/.
class LogManager final : public VirtualManager, public Singleton<LogManager>
{
    Q_OBJECT

public:
    static constexpr int maxRecordBytes = 1023;

    LogManager();
    ~LogManager() override;

    bool initialize() override;
    bool exit() override;
    bool active() override;
    bool deactive() override;

    // Any thread. The record is lost if the log is not running or 10000 records are in flight;
    // the return value says whether it was accepted (callers in the system ignore it).
    bool writeLog(int flag, const QString &text);
    bool writeOperationLog(QString text) { return writeLog(LogOperation, text); }
    bool writeSecurityLog(QString text) { return writeLog(LogSecurity, text); }
    bool writeCommonLog(QString text) { return writeLog(LogCommon, text); }
    bool writeDebugLog(QString text) { return writeLog(LogDebug, text); }
    bool writeRunLog(QString text) { return writeLog(LogRun, text); }

    // Any thread: every record accepted so far goes to the files now rather than at the next
    // timed write-out (for whoever has to read the files soon after, such as tests).
    bool requestWriteOut();

    // The banner written at the first record of a day in each channel.
    static QString banner();

    // Records refused since construction (log not running or too many in flight).
    std::uint64_t refusedRecords() const { return m_refused.load(std::memory_order_relaxed); }
    // Lost records of one category (0 Operation ... 4 Run) not yet told in a record in its file.
    // Log thread, or after deactive().
    std::uint64_t untoldLost(int channel) const { return m_channels.at(std::size_t(channel)).untoldLost(); }
    // Records accepted and not yet handed to their channels (at most maxPendingMessages()).
    std::size_t queuedRecords() const;

protected:
    void onThreadStarted(const MessageHeader *message) override;
    void onThreadStopping(const MessageHeader *message) override;

private:
    void onLogRecord(const LogRecordMessage *message);
    void onLogDrain(const MessageHeader *message);
    void onWriteOut(const MessageHeader *message);
    void drainQueue();
    void onWriteTimer(std::int32_t key);
    void writeOutAll();

    std::array<LogChannel, 5> m_channels;
    std::atomic<int> m_mask{0};
    std::atomic<std::uint64_t> m_refused{0};

    // Records travel in batches: a writer appends to the queue and posts one wake-up message only
    // when none is outstanding, so a burst costs the log thread one event instead of one per line.
    mutable std::mutex m_queueLock;
    std::vector<LogRecordMessage> m_queue;
    std::vector<LogRecordMessage> m_batch; // log thread only
    bool m_queueOpen = false;
    bool m_drainPosted = false;
    // Records refused while the queue was full, per category, and when the first of them was:
    // told in each category's file as soon as the queue has room again.
    std::array<std::uint64_t, 5> m_lost{};
    qint64 m_lostSinceMs = 0;
};
