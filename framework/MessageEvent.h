#pragma once

#include <cstddef>
#include <new>

#include <QEvent>

#include "MessageHeader.h"

// A Qt event (type 1000) carrying a byte copy of one message. Event and copy are one allocation:
// a log record costs one malloc on its way to the log thread, not two.
class MessageEvent final : public QEvent
{
public:
    static constexpr QEvent::Type Type = QEvent::User;

    static MessageEvent *create(const void *message, std::uint32_t length);

    const MessageHeader *header() const { return reinterpret_cast<const MessageHeader *>(bytes()); }
    std::uint32_t length() const { return m_length; }

    static void operator delete(void *pointer) { ::operator delete(pointer); }

private:
    explicit MessageEvent(std::uint32_t length) : QEvent(Type), m_length(length) {}
    const char *bytes() const { return reinterpret_cast<const char *>(this) + payloadOffset; }

    static constexpr std::size_t payloadOffset = (sizeof(QEvent) + sizeof(std::uint32_t) + 15) / 16 * 16;
    std::uint32_t m_length = 0;
};
