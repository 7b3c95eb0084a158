#include "VirtualManager.h"

#include <QCoreApplication>
#include <QTimerEvent>

#include "ThreadAnnotations.h"

VirtualManager::VirtualManager(QObject *parent) : QObject(parent)
{
    m_dispatcher.setOpen(false);
    // The join in deactive() orders everything the thread did before it ended.
    connect(&m_thread, &QThread::finished, &m_thread, [this] { annotateHappensBefore(&m_thread); },
            Qt::DirectConnection);
}

VirtualManager::~VirtualManager()
{
    if (m_thread.isRunning()) {
        m_thread.quit();
        m_thread.wait();
    }
}

bool VirtualManager::initialize()
{
    registerMessageHandler(MSG_THREAD_STARTED, &VirtualManager::onThreadStarted);
    registerMessageHandler(MSG_THREAD_STOPPING, &VirtualManager::onThreadStopping);
    registerMessageHandler(MSG_START_TIMER, &VirtualManager::onStartTimer);
    registerMessageHandler(MSG_STOP_TIMER, &VirtualManager::onStopTimer);
    m_initialized = true;
    return true;
}

bool VirtualManager::exit()
{
    unregisterMessageHandler(MSG_THREAD_STARTED);
    unregisterMessageHandler(MSG_THREAD_STOPPING);
    unregisterMessageHandler(MSG_START_TIMER);
    unregisterMessageHandler(MSG_STOP_TIMER);
    m_initialized = false;
    return true;
}

bool VirtualManager::isRunning() const { return m_dispatcher.isOpen(); }

bool VirtualManager::active()
{
    if (!m_initialized)
        return false;
    if (isRunning())
        return true;
    m_homeThread = thread();
    moveToThread(&m_thread);
    m_thread.start(QThread::InheritPriority);
    m_dispatcher.setOpen(true);
    auto started = makeMessage<ThreadMessage>(MSG_THREAD_STARTED);
    return postMessage(&started, sizeof(started));
}

bool VirtualManager::deactive()
{
    // The stop message closes the manager and is queued past the pending limit, so the handshake
    // it releases always comes, even when 10000 messages are in flight; they are handled first.
    auto stopping = makeMessage<ThreadMessage>(MSG_THREAD_STOPPING);
    if (!m_dispatcher.closeWith(this, &stopping, sizeof(stopping)))
        return true;
    {
        std::unique_lock locker(m_stopLock);
        m_stopCondition.wait(locker, [this] { return m_stopped; });
        m_stopped = false; // released again for the next run
    }
    m_thread.quit();
    m_thread.wait();
    annotateHappensAfter(&m_thread);
    return true;
}

bool VirtualManager::sendMessage(const void *message, std::uint32_t length)
{
    // Synchronous delivery runs the handler on the caller's thread, which is only safe on the
    // thread that owns the manager.
    if (QThread::currentThread() != thread())
        return false;
    return m_dispatcher.send(this, message, length);
}

bool VirtualManager::postMessage(const void *message, std::uint32_t length)
{
    return m_dispatcher.post(this, message, length);
}

void VirtualManager::startKeyTimer(std::int32_t key, std::int32_t interval, std::uint32_t repeatCount)
{
    auto message = makeMessage<StartTimerMessage>(MSG_START_TIMER);
    message.key = key;
    message.interval = interval;
    message.repeatCount = repeatCount;
    postMessage(&message, sizeof(message));
}

void VirtualManager::stopKeyTimer(std::int32_t key)
{
    auto message = makeMessage<StopTimerMessage>(MSG_STOP_TIMER);
    message.key = key;
    postMessage(&message, sizeof(message));
}

void VirtualManager::onThreadStarted(const MessageHeader *) {}

void VirtualManager::onThreadStopping(const MessageHeader *)
{
    // No timer may outlive the thread; then hand the object back to the thread that activated it
    // so that a later active() can move it again.
    for (auto &entry : m_timers) {
        if (entry.second.timerId > 0)
            killTimer(entry.second.timerId);
        entry.second.timerId = -1;
    }
    m_timerKeys.clear();
    moveToThread(m_homeThread);
    // Notified under the lock: once deactive() sees the flag the condition may be destroyed.
    std::lock_guard locker(m_stopLock);
    m_stopped = true;
    m_stopCondition.notify_one();
}

void VirtualManager::registerMessageHandler(std::int32_t id, MessageDispatcher::Handler handler)
{
    m_dispatcher.setHandler(id, std::move(handler));
}

void VirtualManager::unregisterMessageHandler(std::int32_t id) { m_dispatcher.removeHandler(id); }

void VirtualManager::registerTimerHandler(std::int32_t key, TimerHandler handler)
{
    TimerEntry &entry = m_timers[key];
    entry.key = key;
    entry.handler = std::move(handler);
}

void VirtualManager::unregisterTimerHandler(std::int32_t key)
{
    stopTimerEntry(key);
    m_timers.erase(key);
}

void VirtualManager::onStartTimer(const StartTimerMessage *message)
{
    stopTimerEntry(message->key);
    TimerEntry &entry = m_timers[message->key];
    entry.key = message->key;
    entry.repeatLimit = message->repeatCount;
    entry.fireCount = 0;
    entry.timerId = startTimer(message->interval);
    if (entry.timerId != 0)
        m_timerKeys[entry.timerId] = message->key;
}

void VirtualManager::onStopTimer(const StopTimerMessage *message) { stopTimerEntry(message->key); }

void VirtualManager::stopTimerEntry(std::int32_t key)
{
    const auto found = m_timers.find(key);
    if (found == m_timers.end())
        return;
    TimerEntry &entry = found->second;
    m_timerKeys.erase(entry.timerId);
    if (entry.timerId != -1) {
        if (entry.timerId > 0)
            killTimer(entry.timerId);
        entry.timerId = -1;
    }
}

void VirtualManager::timerEvent(QTimerEvent *event)
{
    const auto key = m_timerKeys.find(event->timerId());
    if (key == m_timerKeys.end())
        return;
    const std::int32_t timerKey = key->second;
    TimerEntry &entry = m_timers[timerKey];
    if (entry.repeatLimit != 0) {
        ++entry.fireCount;
        if (entry.fireCount >= entry.repeatLimit)
            stopTimerEntry(timerKey);
    }
    if (entry.handler) {
        const TimerHandler handler = entry.handler; // the handler may unregister its own entry
        handler(timerKey);
        event->accept();
    }
}

void VirtualManager::customEvent(QEvent *event)
{
    if (!m_dispatcher.dispatch(event))
        QObject::customEvent(event);
}
