#include "TesterProtocol.h"

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

qsizetype replyFrameSize(QByteArrayView head)
{
    if (head.size() < 2)
        return 0;
    const auto length = static_cast<unsigned char>(head[1]);
    if (head[0] != replyStart || length == 0)
        return unframedReply;
    return qsizetype(length) + 2;
}

} // namespace TesterProtocol
