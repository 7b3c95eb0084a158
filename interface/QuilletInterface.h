#pragma once

#include <cstdint>

#include "TcpInterface.h"

class MessageReceiver;

// The link speaking the helper protocol with quillet: frames requests, posts GetSaveData and
// SetSaveResult to the service side, answers WriteRunLog itself, and completes the login or
// closes the link according to the answers it writes.
class QuilletInterface final : public TcpInterface
{
    Q_OBJECT

public:
    // serviceReceiver answers GetSaveData and SetSaveResult; it may be null (requests go nowhere).
    QuilletInterface(std::uint32_t interfaceId, MessageReceiver *serviceReceiver, QObject *parent = nullptr);
    Q_DISABLE_COPY_MOVE(QuilletInterface)

    qsizetype decode(QByteArrayView input, QByteArray &message, int &messageClass, bool &error) override;
    bool code(const QByteArray &message, QByteArray &bytes, int &messageClass) override;
    bool onDecodeMessage(const QByteArray &message) override;
    bool onSendCodeMessage(const QByteArray &bytes) override;

private:
    MessageReceiver *const m_serviceReceiver;
};
