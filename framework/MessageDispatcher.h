#pragma once

#include <cstdint>
#include <functional>
#include <unordered_map>

#include <mutex>

#include "MessageHeader.h"

class MessageEvent;
class QEvent;
class QObject;

// The part that VirtualManager and VirtualWidget share: the handler table keyed by message id and
// the count of messages in flight with its limit.
class MessageDispatcher final
{
public:
    using Handler = std::function<void(const MessageHeader *)>;
    static constexpr std::uint32_t defaultMaxPending = 10000;

    void setHandler(std::int32_t id, Handler handler);
    void removeHandler(std::int32_t id);
    bool hasHandler(std::int32_t id) const;

    void release();
    std::uint32_t pending() const;
    std::uint32_t maxPending() const { return m_maxPending; }

    // A closed dispatcher refuses every message (a manager that is not running).
    void setOpen(bool open);
    bool isOpen() const;

    bool post(QObject *receiver, const void *message, std::uint32_t length);
    bool send(QObject *receiver, const void *message, std::uint32_t length);
    // Closes the dispatcher and queues one last message in the same step, past the limit: what was
    // accepted before is handled first, everything after is refused. Returns false if already closed.
    bool closeWith(QObject *receiver, const void *message, std::uint32_t length);

    // Runs the handler of a message event; returns false for events that are not messages.
    bool dispatch(QEvent *event);

private:
    // Counts a whole message in unless the dispatcher is closed or full.
    bool admit(const void *message, std::uint32_t length);
    static void postEvent(QObject *receiver, MessageEvent *event);

    std::unordered_map<std::int32_t, Handler> m_handlers;
    const std::uint32_t m_maxPending = defaultMaxPending;
    std::uint32_t m_pending = 0;
    bool m_open = true;
    // A standard mutex rather than Qt's: ThreadSanitizer sees its ordering.
    mutable std::mutex m_pendingLock;
};

// Wraps a member handler that takes a typed message; messages shorter than the type are dropped,
// so a handler never reads past the copy it was given.
template <typename Message, typename Receiver>
MessageDispatcher::Handler typedHandler(Receiver *receiver, void (Receiver::*handler)(const Message *))
{
    return [receiver, handler](const MessageHeader *header) {
        if (header->size >= sizeof(Message))
            (receiver->*handler)(reinterpret_cast<const Message *>(header));
    };
}
