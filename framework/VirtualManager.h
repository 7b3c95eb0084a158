#pragma once

#include <cstdint>
#include <functional>
#include <condition_variable>
#include <map>
#include <mutex>

#include <QObject>
#include <QThread>

#include "MessageDispatcher.h"
#include "MessageHeader.h"
#include "MessageReceiver.h"

class QTimerEvent;

// Base of the long-lived managers: a worker thread of its own, the lifecycle
// initialize -> active -> deactive -> exit, message handlers run on that thread in posting order,
// and keyed timers. Other threads only ever post messages to a manager.
// Stop a running manager (deactive) before destroying it: the destructor here can only end the
// thread after the derived part is gone, while that thread may still be calling into it.
class VirtualManager : public QObject, public MessageReceiver
{
    Q_OBJECT

public:
    using TimerHandler = std::function<void(std::int32_t)>;

    explicit VirtualManager(QObject *parent = nullptr);
    ~VirtualManager() override;

    virtual bool initialize();
    virtual bool exit();
    virtual bool active();
    virtual bool deactive();
    virtual bool sendMessage(const void *message, std::uint32_t length);
    bool postMessage(const void *message, std::uint32_t length) override;
    virtual void startKeyTimer(std::int32_t key, std::int32_t interval, std::uint32_t repeatCount);
    virtual void stopKeyTimer(std::int32_t key);

    bool isInitialized() const { return m_initialized; }
    bool isRunning() const;
    std::uint32_t pendingMessages() const { return m_dispatcher.pending(); }
    std::uint32_t maxPendingMessages() const { return m_dispatcher.maxPending(); }

protected:
    virtual void onThreadStarted(const MessageHeader *message);
    virtual void onThreadStopping(const MessageHeader *message);

    void registerMessageHandler(std::int32_t id, MessageDispatcher::Handler handler);
    template <typename Message, typename Receiver>
    void registerMessageHandler(std::int32_t id, void (Receiver::*handler)(const Message *))
    {
        registerMessageHandler(id, typedHandler(static_cast<Receiver *>(this), handler));
    }
    void unregisterMessageHandler(std::int32_t id);
    void registerTimerHandler(std::int32_t key, TimerHandler handler);
    template <typename Receiver>
    void registerTimerHandler(std::int32_t key, void (Receiver::*handler)(std::int32_t))
    {
        auto *receiver = static_cast<Receiver *>(this);
        registerTimerHandler(key, [receiver, handler](std::int32_t k) { (receiver->*handler)(k); });
    }
    void unregisterTimerHandler(std::int32_t key);

    void timerEvent(QTimerEvent *event) override;
    void customEvent(QEvent *event) override;

private:
    struct TimerEntry
    {
        std::int32_t key = 0;
        int timerId = 0; // 0 before any start, -1 after a stop
        std::uint32_t repeatLimit = 0;
        std::uint32_t fireCount = 0;
        TimerHandler handler;
    };

    void onStartTimer(const StartTimerMessage *message);
    void onStopTimer(const StopTimerMessage *message);
    void stopTimerEntry(std::int32_t key);

    MessageDispatcher m_dispatcher;
    std::map<std::int32_t, TimerEntry> m_timers;
    std::map<int, std::int32_t> m_timerKeys;
    QThread m_thread;
    QThread *m_homeThread = nullptr;
    bool m_initialized = false;
    // The stop handshake: set by onThreadStopping on the manager's thread, awaited by deactive().
    std::mutex m_stopLock;
    std::condition_variable m_stopCondition;
    bool m_stopped = false;
};
