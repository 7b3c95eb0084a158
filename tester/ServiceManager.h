#pragma once

#include <atomic>
#include <deque>

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

private:
    void onQueryData(const QueryDataRequest *request);
    void onSaveData(const SaveDataRequest *request);
    void onGetSaveData(const HelperProtocol::GetSaveDataRequest *request);
    void onSetSaveResult(const HelperProtocol::SetSaveResultRequest *request);

    void postToWindow(const void *message, std::uint32_t length);
    void postToInterface(const void *message, std::uint32_t length);

    // An export job and the process id of the helper started for it (0 when unknown).
    struct PendingSave
    {
        SaveDataRequest request;
        qint64 helperPid = 0;
    };
    // Drops the oldest jobs whose helper ended without asking for them (killed or crashed);
    // otherwise the next helper would be handed a dead export's document path.
    void dropOrphanedSaves();

    // Export jobs started and not yet handed to a helper, oldest first.
    std::deque<PendingSave> m_pendingSaves;
    std::atomic<MessageReceiver *> m_window{nullptr};
    std::atomic<MessageReceiver *> m_interface{nullptr};
    // Set by deactive() on the stopping thread, read by the query on the worker thread.
    std::atomic<bool> m_stopping{false};
};
