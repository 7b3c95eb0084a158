#pragma once

#include <cstdint>

#include <QAbstractSocket>
#include <QByteArray>
#include <QByteArrayView>
#include <QHostAddress>
#include <QObject>

class QTcpSocket;
class QTimerEvent;

// One pooled TCP link: owns its socket while in use, frames incoming bytes into messages through
// the protocol operations of a subclass, checks each message against a small login state machine,
// and frees itself for the next connection when the peer goes away. Lives in one thread.
class TcpInterface : public QObject
{
    Q_OBJECT

public:
    enum LinkState : std::uint32_t
    {
        WaitLoginRequest = 2,
        LoginRequestTimeout = 4,
        Linked = 6,
        ShakeHandTimeout = 7,
        Unlinked = 8,
    };
    static constexpr qsizetype receiveWindow = 10240;
    // Messages handled per read notification before the rest is left to a queued continuation,
    // so one busy peer cannot starve the other links of the thread.
    static constexpr int messagesPerTurn = 64;
    // Answers not yet taken by a peer beyond which its requests are left unread until it reads.
    static constexpr qint64 maxWriteBacklog = 64 * 1024;

    explicit TcpInterface(std::uint32_t interfaceId, QObject *parent = nullptr);
    ~TcpInterface() override;
    Q_DISABLE_COPY_MOVE(TcpInterface)

    // Takes the socket (and its ownership); fails when none is given or the link is in use.
    bool accept(QTcpSocket *socket, bool loginExpected, bool checkTimeouts, std::uint32_t limit,
                std::uint32_t codeType);
    // With time checks on: a started message may stay incomplete for at most partialSeconds, and a
    // linked peer (or one whose login is being answered) may be silent for at most quietSeconds.
    // 0 leaves a check out; the quiet check then falls back to the keep-alive periods of `limit`.
    void setTimeLimits(std::uint32_t partialSeconds, std::uint32_t quietSeconds);
    // Codes a host-order message and hands it to the protocol for writing.
    bool send(const QByteArray &message);
    // Closes the socket after what is pending has been written; the link is freed on disconnection.
    void close();

    std::uint32_t interfaceId() const { return m_interfaceId; }
    std::uint32_t codeType() const { return m_codeType; }
    LinkState state() const { return m_state; }
    bool inUse() const { return m_inUse; }
    std::uint32_t shakeMisses() const { return m_shakeMisses; }

    // Protocol operations. decode returns the number of input bytes consumed (0: wait for more);
    // messages handed to onDecodeMessage and to code are in host order.
    virtual qsizetype decode(QByteArrayView input, QByteArray &message, int &messageClass, bool &error);
    virtual bool code(const QByteArray &message, QByteArray &bytes, int &messageClass);
    virtual bool onDecodeMessage(const QByteArray &message);
    virtual bool onSendCodeMessage(const QByteArray &bytes);
    virtual void sendShakeHand();
    virtual void loginSuccessful();
    virtual void loginFailed();

    // Called when the link takes a connection and when it lets it go.
    virtual void sessionStarted() {}
    virtual void sessionEnded() {}

public slots:
    void onRead();
    void onDisconnect();
    void onError(QAbstractSocket::SocketError code);
    void closeTcpInterface();

protected:
    QTcpSocket *socket() const { return m_socket; }
    // For decode: the byte stream cannot be framed any more, so the link is closed after this call.
    void framingLost() { m_framingLost = true; }
    // One 1-second tick of the time-out machine; the link's timer calls it.
    void onTick();
    void timerEvent(QTimerEvent *event) override;

private:
    void reset();
    void releaseSocket();
    // Handles the complete messages held by the socket, in order.
    void processHeld();
    void continueLater();
    void timedOut(const char *text);
    bool acceptsClass(int messageClass) const;
    QString describeLink(const char *text) const;
    QString describeLogin(const char *text) const;

    QTcpSocket *m_socket = nullptr;
    QByteArray m_readMsg;
    QByteArray m_sendMsg;
    const std::uint32_t m_interfaceId;
    std::uint32_t m_codeType = 0;
    std::uint32_t m_limit = 0;
    std::uint32_t m_tick = 0;
    bool m_loginExpected = false;
    bool m_checkTimeouts = false;
    // A login request has been handed on and its answer not yet sent; a second one is refused so
    // that one connection cannot take two export jobs.
    // Later messages wait in the socket meanwhile, so they are handled in order once it is sent.
    bool m_loginPending = false;
    bool m_framingLost = false;
    std::uint32_t m_partialLimit = 0;
    std::uint32_t m_quietLimit = 0;
    // Ticks since the first byte of a message that is still incomplete; -1 while none is.
    std::int64_t m_partialTicks = -1;
    // Ticks since the connection was taken: the login must come within `limit` of it, whatever
    // else the peer sends meanwhile.
    std::uint32_t m_waitTicks = 0;
    LinkState m_state = Unlinked;
    QHostAddress m_peerAddress;
    quint16 m_peerPort = 0;
    QHostAddress m_localAddress;
    quint16 m_localPort = 0;
    std::uint32_t m_shakeMisses = 0;
    bool m_inUse = false;
    bool m_readQueued = false;
    int m_timerId = 0;
};
