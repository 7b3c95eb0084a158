#include "QuilletInterface.h"

#include <cstring>

#include <QTcpSocket>
#include <QtEndian>

#include "Codec.h"
#include "HelperProtocol.h"
#include "LogFlag.h"
#include "LogManager.h"
#include "MessageReceiver.h"

using namespace HelperProtocol;

namespace {

void writeRunLog(const QString &text)
{
    LogManager::instance()->writeRunLog(text);
}

// Every message of the protocol has one length; 0 for commands that are not ours.
std::uint32_t fixedLength(std::uint32_t command)
{
    switch (command) {
    case GetSaveDataRequestId:
        return sizeof(GetSaveDataRequest);
    case GetSaveDataResponseId:
        return sizeof(GetSaveDataResponse);
    case SetSaveResultRequestId:
        return sizeof(SetSaveResultRequest);
    case SetSaveResultResponseId:
        return sizeof(SetSaveResultResponse);
    case WriteRunLogRequestId:
        return sizeof(WriteRunLogRequest);
    case WriteRunLogResponseId:
        return sizeof(WriteRunLogResponse);
    default:
        return 0;
    }
}

// System error texts end in a line break, which says nothing: it goes. Breaks and other control
// characters inside the text are written visibly by the run log, so they cannot forge records.
QString oneLine(QString text)
{
    while (text.endsWith(QLatin1Char('\n')) || text.endsWith(QLatin1Char('\r')))
        text.chop(1);
    return text;
}

// Header of a message already in host order.
Header hostHeader(const QByteArray &message)
{
    Header header;
    if (message.size() >= static_cast<qsizetype>(sizeof(Header)))
        std::memcpy(&header, message.constData(), sizeof(Header));
    return header;
}

} // namespace

QuilletInterface::QuilletInterface(std::uint32_t interfaceId, MessageReceiver *serviceReceiver,
                                   QObject *parent)
    : TcpInterface(interfaceId, parent), m_serviceReceiver(serviceReceiver)
{
}

QuilletInterface::~QuilletInterface()
{
    reportDroppedLines();
}

void QuilletInterface::sessionStarted()
{
    m_windowStart = std::chrono::steady_clock::now();
    m_windowLines = 0;
    m_windowBytes = 0;
    m_sessionLines = 0;
    m_sessionBytes = 0;
}

void QuilletInterface::sessionEnded()
{
    reportDroppedLines();
}

bool QuilletInterface::admitRunLogLine(qint64 bytes)
{
    const auto now = std::chrono::steady_clock::now();
    if (now - m_windowStart >= std::chrono::seconds(1)) {
        m_windowStart = now;
        m_windowLines = 0;
        m_windowBytes = 0;
    }
    if (m_windowLines + 1 > runLogLinesPerSecond || m_windowBytes + bytes > runLogBytesPerSecond ||
        m_sessionLines + 1 > runLogLinesPerSession || m_sessionBytes + bytes > runLogBytesPerSession) {
        if (m_droppedLines == 0)
            m_droppedSince = QDateTime::currentDateTime();
        ++m_droppedLines;
        m_droppedBytes += std::uint64_t(bytes);
        return false;
    }
    ++m_windowLines;
    m_windowBytes += bytes;
    ++m_sessionLines;
    m_sessionBytes += bytes;
    return true;
}

void QuilletInterface::reportDroppedLines()
{
    if (m_droppedLines == 0)
        return;
    LogManager::instance()->writeLog(
        LogSecurity | LogRun,
        QStringLiteral("QuilletInterface WriteRunLog limit exceeded, dropped %1 lines (%2 bytes) "
                       "since %3, Interface Id:%4")
            .arg(m_droppedLines)
            .arg(m_droppedBytes)
            .arg(m_droppedSince.toString(QStringLiteral("yyyy-MM-dd hh:mm:ss.zzz")))
            .arg(interfaceId()));
    m_droppedLines = 0;
    m_droppedBytes = 0;
}

qsizetype QuilletInterface::decode(QByteArrayView input, QByteArray &message, int &messageClass, bool &error)
{
    messageClass = ClassOrdinary;
    error = false;
    Header header;
    if (!peekHeader(input, header))
        return 0;
    // A length the protocol cannot have means the framing is lost: where the next message starts
    // cannot be known, so the link is closed. Checked before waiting for the rest, which for such a
    // length might never come.
    if (header.msgLength < headerLength || header.msgLength > maxMessageLength) {
        writeRunLog(QStringLiteral("QuilletInterface::decode Error, msgLength:%1").arg(header.msgLength));
        error = true;
        framingLost();
        return input.size();
    }
    if (input.size() < static_cast<qsizetype>(header.msgLength))
        return 0;

    int requestClass = ClassOrdinary;
    switch (header.msgCommandId) {
    case GetSaveDataRequestId:
        requestClass = ClassLoginRequest;
        break;
    case SetSaveResultRequestId:
        requestClass = ClassSaveResultRequest;
        break;
    case WriteRunLogRequestId:
        requestClass = ClassOrdinary;
        break;
    default:
        writeRunLog(QStringLiteral("QuilletInterface::decode, Invalid Meesage, CommandID:%1")
                        .arg(header.msgCommandId));
        error = true;
        return header.msgLength;
    }
    // A request of the wrong length would be read past its end or lack its last word.
    if (header.msgLength != fixedLength(header.msgCommandId)) {
        writeRunLog(QStringLiteral("QuilletInterface::decode Error, msgLength:%1, CommandID:%2")
                        .arg(header.msgLength)
                        .arg(header.msgCommandId));
        error = true;
        return header.msgLength;
    }

    messageClass = requestClass;
    message = input.first(header.msgLength).toByteArray();
    wordsToHost(message.data(), header.msgLength);
    const std::uint32_t id = interfaceId();
    std::memcpy(message.data() + offsetof(Header, interfaceId), &id, sizeof(id));
    return header.msgLength;
}

bool QuilletInterface::code(const QByteArray &message, QByteArray &bytes, int &messageClass)
{
    messageClass = ClassOrdinary;
    const Header header = hostHeader(message);
    // The peer reads exactly the length of each answer, so only whole, exact answers go out.
    if (header.msgLength < headerLength || header.msgLength > static_cast<std::uint32_t>(message.size()) ||
        (fixedLength(header.msgCommandId) != 0 && header.msgLength != fixedLength(header.msgCommandId))) {
        writeRunLog(QStringLiteral("QuilletInterface Code Message Failed, msgLength Invalid, msgLength:%1")
                        .arg(header.msgLength));
        return false;
    }
    switch (header.msgCommandId) {
    case GetSaveDataResponseId:
        messageClass = ClassLoginAck;
        break;
    case SetSaveResultResponseId:
        messageClass = ClassSaveResultAck;
        break;
    case WriteRunLogResponseId:
        messageClass = ClassOrdinary;
        break;
    default:
        writeRunLog(
            QStringLiteral("QuilletInterface::code, Invalid Meesage, CommandID:%1").arg(header.msgCommandId));
        return false;
    }
    bytes = message.first(header.msgLength);
    wordsToWire(bytes.data(), header.msgLength);
    return true;
}

bool QuilletInterface::onDecodeMessage(const QByteArray &message)
{
    const Header header = hostHeader(message);
    if (header.msgLength < headerLength || header.msgLength > static_cast<std::uint32_t>(message.size())) {
        writeRunLog(
            QStringLiteral("QuilletInterface Send DeCode Message Failed, msgLength Invalid, msgLength:%1")
                .arg(header.msgLength));
        return false;
    }
    switch (header.msgCommandId) {
    case GetSaveDataRequestId:
    case SetSaveResultRequestId:
        // Answered by the service side, which posts the response back through the interface manager.
        if (m_serviceReceiver)
            m_serviceReceiver->postMessage(message.constData(), header.msgLength);
        return true;
    case WriteRunLogRequestId: {
        const qsizetype textBytes =
            std::min<qsizetype>(header.msgLength - headerLength, sizeof(WriteRunLogRequest::text));
        const char *text = message.constData() + headerLength;
        const qsizetype lineBytes = qstrnlen(text, std::size_t(textBytes));
        // Past the budget the line is counted, not written; the peer is answered all the same.
        if (admitRunLogLine(lineBytes)) {
            // Lines dropped before this one are told first, so the record sits where they were.
            reportDroppedLines();
            writeRunLog(oneLine(Codec::fromField(text, textBytes)));
        }
        const auto response = make<WriteRunLogResponse>(WriteRunLogResponseId);
        send(QByteArray(reinterpret_cast<const char *>(&response), sizeof(response)));
        return true;
    }
    default:
        writeRunLog(QStringLiteral(
                        "QuilletInterface Send DeCode Message Failed, msgCommandId Invalid, msgCommandId:%1")
                        .arg(header.msgCommandId));
        return false;
    }
}

bool QuilletInterface::onSendCodeMessage(const QByteArray &bytes)
{
    QTcpSocket *link = socket();
    Header header;
    if (!link || !link->isOpen() || link->state() != QAbstractSocket::ConnectedState ||
        !peekHeader(bytes, header) || link->write(bytes) != bytes.size()) {
        writeRunLog(QStringLiteral("QuilletInterface Send Code Message Failed"));
        return false;
    }
    switch (header.msgCommandId) {
    case GetSaveDataResponseId: {
        const std::uint32_t result = bytes.size() >= static_cast<qsizetype>(sizeof(GetSaveDataRequest))
                                         ? qFromLittleEndian<std::uint32_t>(bytes.constData() + headerLength)
                                         : ResultAccessDenied;
        if (result == ResultAccessDenied)
            loginFailed();
        else
            loginSuccessful();
        break;
    }
    case SetSaveResultResponseId:
        close();
        break;
    case WriteRunLogResponseId:
        break;
    default:
        writeRunLog(
            QStringLiteral("QuilletInterface Unknown command, command Id:%1").arg(header.msgCommandId));
        break;
    }
    return true;
}
