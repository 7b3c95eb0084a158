#include "TcpInterface.h"

#include <QMetaObject>
#include <QTcpSocket>
#include <QTimerEvent>

#include "Codec.h"
#include "HelperProtocol.h"
#include "LogFlag.h"
#include "LogManager.h"

namespace {

constexpr int tickMs = 1000;

QString number(std::uint64_t value)
{
    return QString::number(value);
}

void writeLog(int flags, const QString &text)
{
    LogManager::instance()->writeLog(flags, text);
}

// Raw traffic as text, up to the first zero byte, the way the debug log shows it.
QString bytesAsText(QByteArrayView bytes)
{
    return Codec::fromField(bytes.data(), bytes.size());
}

} // namespace

TcpInterface::TcpInterface(std::uint32_t interfaceId, QObject *parent)
    : QObject(parent), m_readMsg(receiveWindow, '\0'), m_sendMsg(receiveWindow, '\0'),
      m_interfaceId(interfaceId)
{
    reset();
    m_timerId = startTimer(tickMs);
}

TcpInterface::~TcpInterface()
{
    if (m_socket) {
        // No slot of a half-destroyed link may run while the socket closes.
        disconnect(m_socket, nullptr, this, nullptr);
        close();
        delete m_socket;
        m_socket = nullptr;
    }
    if (m_timerId != 0)
        killTimer(m_timerId);
}

void TcpInterface::reset()
{
    m_codeType = 0;
    m_limit = 0;
    m_tick = 0;
    m_loginExpected = false;
    m_checkTimeouts = false;
    m_loginPending = false;
    m_framingLost = false;
    m_partialTicks = -1;
    m_waitTicks = 0;
    m_peerAddress.clear();
    m_peerPort = 0;
    m_localAddress.clear();
    m_localPort = 0;
    m_state = Unlinked;
}

bool TcpInterface::accept(QTcpSocket *socket, bool loginExpected, bool checkTimeouts, std::uint32_t limit,
                          std::uint32_t codeType)
{
    if (!socket || m_inUse) {
        writeLog(LogSecurity | LogRun,
                 QStringLiteral(
                     "TcpInterface Accept Failed, Socket:%1, Use Flag:%2, Code Type:%3, Interface Id:%9")
                     .arg(number(reinterpret_cast<quintptr>(socket)), number(m_inUse ? 1 : 0),
                          number(m_codeType), number(m_interfaceId)));
        return false;
    }
    m_socket = socket;
    // The link owns its socket from now on, whatever happens to the server that accepted it.
    m_socket->setParent(this);
    connect(m_socket, &QTcpSocket::readyRead, this, &TcpInterface::onRead);
    connect(m_socket, &QTcpSocket::disconnected, this, &TcpInterface::onDisconnect);
    connect(m_socket, &QTcpSocket::errorOccurred, this, &TcpInterface::onError);
    m_inUse = true;
    reset();
    m_shakeMisses = 0;

    m_codeType = codeType;
    m_loginExpected = loginExpected;
    m_checkTimeouts = checkTimeouts;
    m_limit = limit;
    m_tick = 0;
    m_state = loginExpected ? WaitLoginRequest : Linked;

    m_peerAddress = m_socket->peerAddress();
    m_peerPort = m_socket->peerPort();
    m_localAddress = m_socket->localAddress();
    m_localPort = m_socket->localPort();

    connect(m_socket, &QTcpSocket::bytesWritten, this, [this] {
        if (m_socket && m_socket->bytesToWrite() <= maxWriteBacklog && m_socket->bytesAvailable() > 0)
            continueLater();
    });
    sessionStarted();

    // Bytes that arrived before the signals were connected would otherwise wait for the next ones.
    if (m_socket->bytesAvailable() > 0)
        continueLater();
    return true;
}

bool TcpInterface::acceptsClass(int messageClass) const
{
    switch (m_state) {
    case WaitLoginRequest:
        return messageClass == HelperProtocol::ClassLoginRequest && !m_loginPending;
    case Linked:
        return messageClass != HelperProtocol::ClassLoginRequest &&
               messageClass != HelperProtocol::ClassLoginAck;
    default:
        return false;
    }
}

void TcpInterface::onRead()
{
    // New bytes from the peer: it is not silent.
    m_tick = 0;
    // Traffic is what a keep-alive waits for.
    m_shakeMisses = 0;
    processHeld();
}

void TcpInterface::continueLater()
{
    if (m_readQueued)
        return;
    m_readQueued = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            m_readQueued = false;
            processHeld();
        },
        Qt::QueuedConnection);
}

void TcpInterface::processHeld()
{
    // TCP is a byte stream: one notification may hold several messages, and each one counts.
    for (int handled = 0; m_socket && m_socket->isOpen() && m_socket->bytesAvailable() > 0; ++handled) {
        // Until the login is answered the state it decides is unknown; what follows waits for it.
        // A peer that does not read its answers is not read either.
        if (m_loginPending || m_socket->bytesToWrite() > maxWriteBacklog) {
            m_partialTicks = -1;
            return;
        }
        if (handled == messagesPerTurn) {
            continueLater();
            return;
        }
        const QByteArray held = m_socket->peek(receiveWindow);
        int messageClass = HelperProtocol::ClassOrdinary;
        bool error = false;
        m_framingLost = false;
        const qsizetype consumed = std::min(decode(held, m_readMsg, messageClass, error), held.size());
        if (m_framingLost) {
            writeLog(LogDebug, QStringLiteral("Read Buffer:  %1").arg(bytesAsText(held)));
            close();
            return;
        }
        if (consumed <= 0) {
            // The start of a message: the clock of its completion starts with its first byte.
            if (m_partialTicks < 0)
                m_partialTicks = 0;
            return;
        }
        m_partialTicks = -1;
        m_socket->skip(consumed);
        writeLog(LogDebug,
                 QStringLiteral("Read Buffer:  %1").arg(bytesAsText(QByteArrayView(held).first(consumed))));
        if (error || !acceptsClass(messageClass))
            continue;
        if (messageClass == HelperProtocol::ClassLoginRequest)
            m_loginPending = true;
        onDecodeMessage(m_readMsg);
    }
    if (m_socket && m_socket->bytesAvailable() == 0)
        m_partialTicks = -1;
}

bool TcpInterface::send(const QByteArray &message)
{
    if (m_state == Unlinked) {
        writeLog(LogRun,
                 QStringLiteral("TcpInterface Send Failed, Interface Unlink, Interface Id:%1, Code Type:%2")
                     .arg(number(m_interfaceId), number(m_codeType)));
        return false;
    }
    int messageClass = HelperProtocol::ClassOrdinary;
    if (!code(message, m_sendMsg, messageClass)) {
        writeLog(LogRun,
                 QStringLiteral("TcpInterface Send Failed, Msg Code Failed, Interface Id:%1, Code Type:%2")
                     .arg(number(m_interfaceId), number(m_codeType)));
        return false;
    }
    writeLog(LogDebug, QStringLiteral("Send Buffer:  %1").arg(bytesAsText(m_sendMsg)));
    m_tick = 0;
    if (!onSendCodeMessage(m_sendMsg)) {
        writeLog(LogRun,
                 QStringLiteral("TcpInterface Send Code Message Failed, Interface Id:%1, Code Type:%2")
                     .arg(number(m_interfaceId), number(m_codeType)));
        return false;
    }
    return true;
}

qsizetype TcpInterface::decode(QByteArrayView input, QByteArray &message, int &, bool &)
{
    writeLog(LogRun, QStringLiteral("TcpInterface Decode Failed, inData Size:%1, outData Size:%2")
                         .arg(number(input.size()), number(message.size())));
    return 0;
}

bool TcpInterface::code(const QByteArray &message, QByteArray &bytes, int &)
{
    writeLog(LogRun, QStringLiteral("TcpInterface Code Failed, inData Size:%1, outData Size:%2")
                         .arg(number(message.size()), number(bytes.size())));
    return false;
}

bool TcpInterface::onDecodeMessage(const QByteArray &message)
{
    writeLog(
        LogRun,
        QStringLiteral("TcpInterface SendDeCodeMessage Failed, Data Size:%1").arg(number(message.size())));
    return false;
}

bool TcpInterface::onSendCodeMessage(const QByteArray &bytes)
{
    writeLog(LogRun,
             QStringLiteral("TcpInterface SendCodeMessage Failed, Data Size:%1").arg(number(bytes.size())));
    return false;
}

void TcpInterface::sendShakeHand() {}

QString TcpInterface::describeLink(const char *text) const
{
    return QString::fromUtf8(text).arg(number(m_codeType), number(m_state), m_peerAddress.toString(),
                                       number(m_peerPort), m_localAddress.toString(), number(m_localPort),
                                       number(m_interfaceId));
}

QString TcpInterface::describeLogin(const char *text) const
{
    return QString::fromUtf8(text).arg(number(m_codeType), m_peerAddress.toString(), number(m_peerPort),
                                       m_localAddress.toString(), number(m_localPort), number(m_interfaceId));
}

void TcpInterface::loginSuccessful()
{
    writeLog(LogSecurity | LogRun,
             describeLogin("TcpInterface Login Successful, Code Type:%1, Remote Addr:%2(%3), "
                           "Local Addr:%4(%5), Interface Id:%6"));
    m_loginPending = false;
    m_state = Linked;
    m_tick = 0;
    // Requests that came behind the login request are handled now, in order.
    continueLater();
}

void TcpInterface::loginFailed()
{
    writeLog(LogSecurity | LogRun,
             describeLogin("TcpInterface Login Failed, Code Type:%1, Remote Addr:%2(%3), "
                           "Local Addr:%4(%5), Interface Id:%6"));
    m_loginPending = false;
    close();
}

void TcpInterface::close()
{
    if (!m_socket)
        return;
    writeLog(LogSecurity,
             describeLink("TcpInterface Closer, Code Type:%1, Interface State:%2, Remote Addr:%3(%4), "
                          "Local Addr:%5(%6), Interface Id:%7"));
    // Qt writes what is still pending before it disconnects; disconnected() may come at once.
    m_socket->close();
}

void TcpInterface::closeTcpInterface()
{
    close();
}

void TcpInterface::setTimeLimits(std::uint32_t partialSeconds, std::uint32_t quietSeconds)
{
    m_partialLimit = partialSeconds;
    m_quietLimit = quietSeconds;
}

void TcpInterface::releaseSocket()
{
    if (!m_socket)
        return;
    sessionEnded();
    disconnect(m_socket, nullptr, this, nullptr);
    m_state = Unlinked;
    m_inUse = false;
    m_loginPending = false;
    m_partialTicks = -1;
    m_socket->deleteLater();
    m_socket = nullptr;
}

void TcpInterface::onDisconnect()
{
    if (!m_socket)
        return;
    writeLog(LogSecurity, describeLink("TcpInterface Disconnect, Code Type:%1, Interface State:%2, "
                                       "Remote Addr:%3(%4), Local Addr:%5(%6), Interface Id:%7"));
    releaseSocket();
}

void TcpInterface::onError(QAbstractSocket::SocketError code)
{
    if (!m_socket)
        return;
    writeLog(
        LogSecurity,
        QStringLiteral("TcpInterface Error, Code Type:%1, Interface State:%2, Error Code:%3, Error Des:%4, "
                       "Remote Addr:%5(%6), Local Addr:%7(%8), Interface Id:%9")
            .arg(number(m_codeType), number(m_state), QString::number(static_cast<int>(code)),
                 m_socket->errorString(), m_peerAddress.toString(), number(m_peerPort),
                 m_localAddress.toString(), number(m_localPort), number(m_interfaceId)));
    if (m_state == Unlinked)
        releaseSocket();
}

void TcpInterface::timedOut(const char *text)
{
    writeLog(LogSecurity | LogRun, describeLink(text));
    close();
}

void TcpInterface::onTick()
{
    if (!m_checkTimeouts || !m_socket)
        return;
    ++m_tick;
    ++m_waitTicks;
    // A message started and never finished holds the link whatever its state: a slow trickle of
    // bytes keeps it from being silent, so its clock does not restart with each byte.
    if (m_partialLimit > 0 && m_partialTicks >= 0 && ++m_partialTicks > m_partialLimit) {
        m_partialTicks = -1;
        writeLog(
            LogSecurity | LogRun,
            QStringLiteral(
                "TcpInterface Partial Message Timeout, Code Type:%1, Interface State:%2, Remote Addr:%3(%4), "
                "Local Addr:%5(%6), Interface Id:%7, Held Bytes:%8")
                .arg(number(m_codeType), number(m_state), m_peerAddress.toString(), number(m_peerPort),
                     m_localAddress.toString(), number(m_localPort), number(m_interfaceId),
                     number(std::uint64_t(m_socket->bytesAvailable()))));
        close();
        return;
    }
    switch (m_state) {
    case WaitLoginRequest:
        // Once the login request is in, the peer waits for our answer: only silence beyond what
        // it would wait itself ends the link then.
        if (m_loginPending ? (m_quietLimit > 0 && m_tick > m_quietLimit) : m_waitTicks > m_limit) {
            m_state = LoginRequestTimeout;
            timedOut("TcpInterface Wait Login Requst Timeout, Code Type:%1, Interface State:%2, "
                     "Remote Addr:%3(%4), Local Addr:%5(%6), Interface Id:%7");
        }
        break;
    case Linked:
        if (m_quietLimit > 0) {
            if (m_tick > m_quietLimit) {
                m_state = ShakeHandTimeout;
                timedOut("TcpInterface Shake Hand Timeout, Code Type:%1, Interface State:%2, "
                         "Remote Addr:%3(%4), Local Addr:%5(%6), Interface Id:%7");
            }
            break;
        }
        if (m_tick > m_limit) {
            m_tick = 0;
            ++m_shakeMisses;
            if (m_shakeMisses > 1) {
                m_state = ShakeHandTimeout;
                timedOut("TcpInterface Shake Hand Timeout, Code Type:%1, Interface State:%2, "
                         "Remote Addr:%3(%4), Local Addr:%5(%6), Interface Id:%7");
                break;
            }
        }
        if (m_shakeMisses > 0)
            sendShakeHand();
        break;
    default:
        break;
    }
}

void TcpInterface::timerEvent(QTimerEvent *event)
{
    if (event->timerId() == m_timerId)
        onTick();
    else
        QObject::timerEvent(event);
}
