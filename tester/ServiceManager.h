#pragma once

#include <atomic>
#include <deque>

#include <QDateTime>
#include <QElapsedTimer>

#include "ServiceMessages.h"
#include "Singleton.h"
#include "VirtualManager.h"

namespace HelperProtocol {
struct GetSaveDataRequest;
struct SetSaveResultRequest;
} // namespace HelperProtocol

// The manager for slow and external work: tester queries, and handing report exports to the
// document helper. Everything runs on its own worker thread; others only post messages to it.
class ServiceManager final : public VirtualManager, public Singleton<ServiceManager>
{
    Q_OBJECT

public:
    ServiceManager();
    ~ServiceManager() override;

    bool initialize() override;
    bool exit() override;
    bool active() override;
    // Also cuts a running query short (within about TesterPort::stopCheckMs): it posts nothing
    // more and closes its port, so the stop never waits for the tester's time-outs.
    bool deactive() override;

    // Where query results (9, 16 to 24) and helper responses (34, 36) are posted. Set before
    // active(); the application wires the main window and the interface manager.
    void setWindowReceiver(MessageReceiver *receiver) { m_window.store(receiver); }
    void setInterfaceReceiver(MessageReceiver *receiver) { m_interface.store(receiver); }

    // How long a helper may take from its start to closing its job: the helper itself gives up
    // waiting for kestrel after this long, so an export still open then will not end well.
    static constexpr int helperTimeLimitMs = 120000;
    // Tests shorten the bound; any thread, takes effect at the next check.
    void setHelperTimeLimit(int milliseconds) { m_helperTimeLimitMs.store(milliseconds); }

protected:
    void onThreadStarted(const MessageHeader *message) override;
    void onThreadStopping(const MessageHeader *message) override;

private:
    void onQueryData(const QueryDataRequest *request);
    void onSaveData(const SaveDataRequest *request);
    void onGetSaveData(const HelperProtocol::GetSaveDataRequest *request);
    void onSetSaveResult(const HelperProtocol::SetSaveResultRequest *request);

    void postToWindow(const void *message, std::uint32_t length);
    void postToInterface(const void *message, std::uint32_t length);

    // What was at a document path when its export started: a helper that fails leaves it so.
    struct DocumentStamp
    {
        bool exists = false;
        qint64 size = -1;
        QDateTime modified;
        QDateTime born;
        bool operator==(const DocumentStamp &) const = default;
    };
    static DocumentStamp documentStamp(const QString &path);

    // An export job and the process id of the helper started for it (0 when unknown). Helpers are
    // tied to jobs in the order they were started, as they ask for them.
    struct PendingSave
    {
        SaveDataRequest request;
        qint64 helperPid = 0;
        QElapsedTimer started;
        DocumentStamp before;
        std::uint32_t interfaceId = 0; // the link that took the job
    };
    // Drops the oldest jobs whose helper ended without asking for them (killed or crashed);
    // otherwise the next helper would be handed a dead export's document path.
    void dropOrphanedSaves();
    // Runs while exports are open: notices helpers that ended without closing their job and
    // jobs past the time bound, so the window hears of them within a second.
    void onSaveWatch(std::int32_t key);
    void updateSaveWatch();
    void postSaveOutcome(const SaveDataRequest &request, SaveOutcome outcome);
    static QString docPathOf(const SaveDataRequest &request);

    // Export jobs started and not yet handed to a helper, oldest first.
    std::deque<PendingSave> m_pendingSaves;
    // Jobs handed to a helper that has not closed them yet, oldest first.
    std::deque<PendingSave> m_takenSaves;
    bool m_saveWatchRunning = false;
    std::atomic<int> m_helperTimeLimitMs{helperTimeLimitMs};
    std::atomic<MessageReceiver *> m_window{nullptr};
    std::atomic<MessageReceiver *> m_interface{nullptr};
    // Set by deactive() on the stopping thread, read by the query on the worker thread.
    std::atomic<bool> m_stopping{false};
};
