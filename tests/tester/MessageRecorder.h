#pragma once

#include <cstring>

#include <QByteArray>
#include <QList>
#include <QMutex>
#include <QMutexLocker>

#include "MessageHeader.h"
#include "MessageReceiver.h"

// Stands in for the window or the interface manager: keeps a copy of every message posted to it.
class MessageRecorder final : public MessageReceiver
{
public:
    bool postMessage(const void *message, std::uint32_t length) override
    {
        QMutexLocker locker(&m_lock);
        m_messages.append(QByteArray(static_cast<const char *>(message), length));
        return true;
    }

    // A deep copy: sharing the list or its byte arrays with the posting thread would let a later
    // detach on this side read them while that thread appends.
    QList<QByteArray> messages() const
    {
        QMutexLocker locker(&m_lock);
        QList<QByteArray> copy;
        copy.reserve(m_messages.size());
        for (const QByteArray &message : m_messages)
            copy.append(QByteArray(message.constData(), message.size()));
        return copy;
    }

    QList<std::uint32_t> ids() const
    {
        QList<std::uint32_t> result;
        for (const QByteArray &message : messages())
            result.append(reinterpret_cast<const MessageHeader *>(message.constData())->id);
        return result;
    }

    bool contains(std::uint32_t id) const { return ids().contains(id); }

    // The first message with this id as M (zero-filled when there is none or it is too short).
    template <typename M> M first(std::uint32_t id) const
    {
        M message{};
        for (const QByteArray &bytes : messages()) {
            if (reinterpret_cast<const MessageHeader *>(bytes.constData())->id == id &&
                bytes.size() == qsizetype(sizeof(M))) {
                std::memcpy(&message, bytes.constData(), sizeof(M));
                break;
            }
        }
        return message;
    }

    void clear()
    {
        QMutexLocker locker(&m_lock);
        m_messages.clear();
    }

private:
    mutable QMutex m_lock;
    QList<QByteArray> m_messages;
};
