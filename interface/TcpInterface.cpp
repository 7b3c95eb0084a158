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
                 tr("TcpInterface Accept Failed, Socket:%1, Use Flag:%2, Code Type:%3, Interface Id:%9")
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

    // Bytes that arrived before the signals were connected would otherwise wait for the next ones.
    if (m_socket->bytesAvailable() > 0 && !m_readQueued) {
        m_readQueued = true;
        QMetaObject::invokeMethod(this, &TcpInterface::onRead, Qt::QueuedConnection);
    }
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
    m_readQueued = false;
    m_tick = 0;
    // Traffic is what a keep-alive waits for.
    m_shakeMisses = 0;

    for (int handled = 0; m_socket && m_socket->isOpen() && m_socket->bytesAvailable() > 0; ++handled) {
        if (handled == messagesPerTurn) {
            if (!m_readQueued) {
                m_readQueued = true;
                QMetaObject::invokeMethod(this, &TcpInterface::onRead, Qt::QueuedConnection);
            }
            return;
        }
        const QByteArray held = m_socket->peek(receiveWindow);
        int messageClass = HelperProtocol::ClassOrdinary;
        bool error = false;
        const qsizetype consumed = std::min(decode(held, m_readMsg, messageClass, error), held.size());
        if (consumed <= 0)
            return;
        m_socket->skip(consumed);
        writeLog(LogDebug, tr("Read Buffer:  %1").arg(bytesAsText(QByteArrayView(held).first(consumed))));
        if (error || !acceptsClass(messageClass))
            continue;
        if (messageClass == HelperProtocol::ClassLoginRequest)
            m_loginPending = true;
        onDecodeMessage(m_readMsg);
    }
}

bool TcpInterface::send(const QByteArray &message)
{
    if (m_state == Unlinked) {
        writeLog(LogRun, tr("TcpInterface Send Failed, Interface Unlink, Interface Id:%1, Code Type:%2")
                             .arg(number(m_interfaceId), number(m_codeType)));
        return false;
    }
    int messageClass = HelperProtocol::ClassOrdinary;
    if (!code(message, m_sendMsg, messageClass)) {
        writeLog(LogRun, tr("TcpInterface Send Failed, Msg Code Failed, Interface Id:%1, Code Type:%2")
                             .arg(number(m_interfaceId), number(m_codeType)));
        return false;
    }
    writeLog(LogDebug, tr("Send Buffer:  %1").arg(bytesAsText(m_sendMsg)));
    if (!onSendCodeMessage(m_sendMsg)) {
        writeLog(LogRun, tr("TcpInterface Send Code Message Failed, Interface Id:%1, Code Type:%2")
                             .arg(number(m_interfaceId), number(m_codeType)));
        return false;
    }
    return true;
}

qsizetype TcpInterface::decode(QByteArrayView input, QByteArray &message, int &, bool &)
{
    writeLog(LogRun, tr("TcpInterface Decode Failed, inData Size:%1, outData Size:%2")
                         .arg(number(input.size()), number(message.size())));
    return 0;
}

bool TcpInterface::code(const QByteArray &message, QByteArray &bytes, int &)
{
    writeLog(LogRun, tr("TcpInterface Code Failed, inData Size:%1, outData Size:%2")
                         .arg(number(message.size()), number(bytes.size())));
    return false;
}

bool TcpInterface::onDecodeMessage(const QByteArray &message)
{
    writeLog(LogRun, tr("TcpInterface SendDeCodeMessage Failed, Data Size:%1").arg(number(message.size())));
    return false;
}

bool TcpInterface::onSendCodeMessage(const QByteArray &bytes)
{
    writeLog(LogRun, tr("TcpInterface SendCodeMessage Failed, Data Size:%1").arg(number(bytes.size())));
    return false;
}

void TcpInterface::sendShakeHand() {}

QString TcpInterface::describeLink(const char *text) const
{
    return tr(text).arg(number(m_codeType), number(m_state), m_peerAddress.toString(), number(m_peerPort),
                        m_localAddress.toString(), number(m_localPort), number(m_interfaceId));
}

QString TcpInterface::describeLogin(const char *text) const
{
    return tr(text).arg(number(m_codeType), m_peerAddress.toString(), number(m_peerPort),
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

void TcpInterface::releaseSocket()
{
    if (!m_socket)
        return;
    disconnect(m_socket, nullptr, this, nullptr);
    m_state = Unlinked;
    m_inUse = false;
    m_loginPending = false;
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
    writeLog(LogSecurity,
             tr("TcpInterface Error, Code Type:%1, Interface State:%2, Error Code:%3, Error Des:%4, "
                "Remote Addr:%5(%6), Local Addr:%7(%8), Interface Id:%9")
                 .arg(number(m_codeType), number(m_state), QString::number(static_cast<int>(code)),
                      m_socket->errorString(), m_peerAddress.toString(), number(m_peerPort),
                      m_localAddress.toString(), number(m_localPort), number(m_interfaceId)));
    if (m_state == Unlinked)
        releaseSocket();
}

void TcpInterface::onTick()
{
    if (!m_checkTimeouts)
        return;
    ++m_tick;
    switch (m_state) {
    case WaitLoginRequest:
        if (m_tick > m_limit) {
            m_state = LoginRequestTimeout;
            writeLog(LogSecurity | LogRun,
                     describeLink("TcpInterface Wait Login Requst Timeout, Code Type:%1, Interface State:%2, "
                                  "Remote Addr:%3(%4), Local Addr:%5(%6), Interface Id:%7"));
            close();
        }
        break;
    case Linked:
        if (m_tick > m_limit) {
            m_tick = 0;
            ++m_shakeMisses;
            if (m_shakeMisses > 1) {
                m_state = ShakeHandTimeout;
                writeLog(LogSecurity | LogRun,
                         describeLink("TcpInterface Shake Hand Timeout, Code Type:%1, Interface State:%2, "
                                      "Remote Addr:%3(%4), Local Addr:%5(%6), Interface Id:%7"));
                close();
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
