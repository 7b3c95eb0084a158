#pragma once

#include <QByteArray>
#include <QEvent>

#include "MessageHeader.h"

// A Qt event (type 1000) carrying a byte copy of one message.
class MessageEvent final : public QEvent
{
public:
    static constexpr QEvent::Type Type = QEvent::User;

    MessageEvent(const void *message, std::uint32_t length);

    const MessageHeader *header() const { return reinterpret_cast<const MessageHeader *>(m_bytes.constData()); }
    std::uint32_t length() const { return static_cast<std::uint32_t>(m_bytes.size()); }

private:
    QByteArray m_bytes;
};
