#include "MessageDispatcher.h"

#include <memory>

#include <QCoreApplication>

#include "MessageEvent.h"
#include "ThreadAnnotations.h"

void MessageDispatcher::setHandler(std::int32_t id, Handler handler) { m_handlers[id] = std::move(handler); }

void MessageDispatcher::removeHandler(std::int32_t id) { m_handlers.erase(id); }

bool MessageDispatcher::hasHandler(std::int32_t id) const { return m_handlers.count(id) != 0; }

void MessageDispatcher::setOpen(bool open)
{
    std::lock_guard locker(m_pendingLock);
    m_open = open;
}

bool MessageDispatcher::isOpen() const
{
    std::lock_guard locker(m_pendingLock);
    return m_open;
}

void MessageDispatcher::release()
{
    std::lock_guard locker(m_pendingLock);
    if (m_pending > 0)
        --m_pending;
}

std::uint32_t MessageDispatcher::pending() const
{
    std::lock_guard locker(m_pendingLock);
    return m_pending;
}

static bool validMessage(const void *message, std::uint32_t length)
{
    if (!message || length < sizeof(MessageHeader))
        return false;
    const auto *header = static_cast<const MessageHeader *>(message);
    return header->size == length;
}

bool MessageDispatcher::admit(const void *message, std::uint32_t length)
{
    if (!validMessage(message, length))
        return false;
    // The open check and the count move together, so a receiver that is closing refuses every
    // message posted after its stop message.
    std::lock_guard locker(m_pendingLock);
    if (!m_open || m_pending >= m_maxPending)
        return false;
    ++m_pending;
    return true;
}

bool MessageDispatcher::post(QObject *receiver, const void *message, std::uint32_t length)
{
    if (!admit(message, length))
        return false;
    postEvent(receiver, MessageEvent::create(message, length));
    return true;
}

bool MessageDispatcher::send(QObject *receiver, const void *message, std::uint32_t length)
{
    if (!admit(message, length))
        return false;
    std::unique_ptr<MessageEvent> event(MessageEvent::create(message, length));
    return QCoreApplication::sendEvent(receiver, event.get());
}

bool MessageDispatcher::closeWith(QObject *receiver, const void *message, std::uint32_t length)
{
    std::lock_guard locker(m_pendingLock);
    if (!m_open)
        return false;
    m_open = false;
    ++m_pending;
    postEvent(receiver, MessageEvent::create(message, length));
    return true;
}

void MessageDispatcher::postEvent(QObject *receiver, MessageEvent *event)
{
    annotateHappensBefore(event);
    QCoreApplication::postEvent(receiver, event);
}

bool MessageDispatcher::dispatch(QEvent *event)
{
    annotateHappensAfter(event);
    if (event->type() != MessageEvent::Type)
        return false;
    auto *messageEvent = static_cast<MessageEvent *>(event);
    const MessageHeader *header = messageEvent->header();
    const auto handler = m_handlers.find(static_cast<std::int32_t>(header->id));
    if (handler != m_handlers.end() && handler->second)
        handler->second(header);
    event->accept();
    // Released whether or not a handler ran: a message nobody handles must not hold a slot forever.
    release();
    return true;
}
