#pragma once

#include <chrono>
#include <cstdint>

#include <QDateTime>

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
    // WriteRunLog lines one link may have written, per second and per connection: far above the
    // few lines a helper writes in an export, far below what would roll the run log over.
    static constexpr int runLogLinesPerSecond = 20;
    static constexpr qint64 runLogBytesPerSecond = 20 * 1024;
    static constexpr int runLogLinesPerSession = 200;
    static constexpr qint64 runLogBytesPerSession = 200 * 1024;

    QuilletInterface(std::uint32_t interfaceId, MessageReceiver *serviceReceiver, QObject *parent = nullptr);
    ~QuilletInterface() override;
    Q_DISABLE_COPY_MOVE(QuilletInterface)

    qsizetype decode(QByteArrayView input, QByteArray &message, int &messageClass, bool &error) override;
    bool code(const QByteArray &message, QByteArray &bytes, int &messageClass) override;
    bool onDecodeMessage(const QByteArray &message) override;
    bool onSendCodeMessage(const QByteArray &bytes) override;

protected:
    void sessionStarted() override;
    void sessionEnded() override;

private:
    // Whether one more WriteRunLog line of this many bytes fits the budget; counts it either way.
    bool admitRunLogLine(qint64 bytes);
    void reportDroppedLines();

    MessageReceiver *const m_serviceReceiver;
    std::chrono::steady_clock::time_point m_windowStart{};
    int m_windowLines = 0;
    qint64 m_windowBytes = 0;
    int m_sessionLines = 0;
    qint64 m_sessionBytes = 0;
    std::uint64_t m_droppedLines = 0;
    std::uint64_t m_droppedBytes = 0;
    QDateTime m_droppedSince;
};
