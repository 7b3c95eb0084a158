#include "TesterProtocol.h"

#include <QCoreApplication>

#include "LogManager.h"
#include "TesterPort.h"

namespace TesterProtocol {

QByteArray request(int group, int item)
{
    QByteArray frame;
    frame.append(requestStart)
        .append(char(3))
        .append(static_cast<char>(group))
        .append(static_cast<char>(item));
    return frame;
}

std::uint8_t checksum(QByteArrayView bytes)
{
    unsigned sum = 0;
    for (char byte : bytes)
        sum += static_cast<unsigned char>(byte);
    return static_cast<std::uint8_t>(sum & 0xFFu);
}

QString hexDump(QByteArrayView bytes)
{
    static constexpr char digits[] = "0123456789abcdef";
    QString text;
    text.reserve(bytes.size() * 3);
    for (char byte : bytes) {
        const auto value = static_cast<unsigned char>(byte);
        text += QLatin1Char(digits[value >> 4]);
        text += QLatin1Char(digits[value & 0x0F]);
        text += QLatin1Char(' ');
    }
    return text;
}

bool isValidRequest(QByteArrayView request)
{
    if (request.size() < 2 || request[0] != requestStart)
        return false;
    return static_cast<std::int8_t>(request[1]) == request.size() - 1;
}

ReplyCheck checkReply(QByteArrayView reply, Variant variant)
{
    if (reply.size() < minimumReplySize)
        return ReplyCheck::CommunicationError;
    if (variant == Variant::Probe && static_cast<std::int8_t>(reply[1]) > probeMaximumLengthByte)
        return ReplyCheck::CommunicationError;
    if (reply[0] != replyStart ||
        checksum(reply.first(reply.size() - 1)) != static_cast<unsigned char>(reply.back()))
        return ReplyCheck::DataError;
    return ReplyCheck::Ok;
}

} // namespace TesterProtocol

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("TesterProtocol", text);
}

bool exchange(TesterPort &port, QByteArray &request, QByteArray &reply, TesterProtocol::Variant variant)
{
    using namespace TesterProtocol;
    LogManager *log = LogManager::instance();
    const QString name = port.name();
    const bool dumps = variant == Variant::Query;

    if (!isValidRequest(request)) {
        log->writeRunLog(tr("Write Serial Port failed, Req Error, Port:%1").arg(name));
        return false;
    }
    request.append(static_cast<char>(checksum(request)));

    // Bytes left from an earlier reply that came too late would be read as this one's reply.
    port.discardInput();
    if (port.write(request) == -1) {
        log->writeRunLog(tr("Write Serial Port failed, Port:%1").arg(name));
        return false;
    }
    port.flush();
    if (dumps)
        log->writeDebugLog(tr("Write Serial Port Data, Port:%1, Data: %2").arg(name, hexDump(request)));

    reply = port.readAll();
    if (dumps)
        log->writeDebugLog(tr("Read Serial Port Data, Port:%1, Data: %2").arg(name, hexDump(reply)));

    switch (checkReply(reply, variant)) {
    case ReplyCheck::CommunicationError:
        log->writeRunLog(tr("Serial Port Communication Error, Port:%1").arg(name));
        return false;
    case ReplyCheck::DataError:
        log->writeRunLog(tr("Serial Port Data Error, Port:%1").arg(name));
        return false;
    case ReplyCheck::Ok:
        break;
    }
    request.clear();
    return true;
}

} // namespace

bool exchangeFrame(TesterPort &port, QByteArray &request, QByteArray &reply)
{
    return exchange(port, request, reply, TesterProtocol::Variant::Query);
}

bool probeExchange(TesterPort &port, QByteArray &request, QByteArray &reply)
{
    return exchange(port, request, reply, TesterProtocol::Variant::Probe);
}
