#include "HelperProtocol.h"

#include <cstring>

#include <QtEndian>

namespace HelperProtocol {

namespace {

// Number of leading u32 words in a message of the given command: the header plus, for the two
// 16-byte requests and the response, the word after it.
std::uint32_t wordCount(std::uint32_t command, std::uint32_t length)
{
    switch (command) {
    case GetSaveDataRequestId:
    case SetSaveResultRequestId:
    case GetSaveDataResponseId:
        return length >= 16 ? 4 : length / 4;
    default:
        return length >= 12 ? 3 : length / 4;
    }
}

template <typename M>
QByteArray encodeAny(const M &message)
{
    QByteArray wire(reinterpret_cast<const char *>(&message), sizeof(M));
    wordsToWire(wire.data(), sizeof(M));
    return wire;
}

template <typename M>
bool decodeAny(QByteArrayView wire, M &message, std::uint32_t command)
{
    Header header;
    if (wire.size() != static_cast<qsizetype>(sizeof(M)) || !peekHeader(wire, header))
        return false;
    if (header.msgLength != sizeof(M) || header.msgCommandId != command)
        return false;
    std::memcpy(&message, wire.data(), sizeof(M));
    wordsToHost(reinterpret_cast<char *>(&message), sizeof(M));
    return true;
}

} // namespace

bool peekHeader(QByteArrayView wire, Header &header)
{
    if (wire.size() < static_cast<qsizetype>(headerLength))
        return false;
    header.msgLength = qFromLittleEndian<std::uint32_t>(wire.data());
    header.msgCommandId = qFromLittleEndian<std::uint32_t>(wire.data() + 4);
    header.interfaceId = qFromLittleEndian<std::uint32_t>(wire.data() + 8);
    return true;
}

void wordsToHost(char *message, std::uint32_t length)
{
    if (length < 8)
        return;
    const std::uint32_t command = qFromLittleEndian<std::uint32_t>(message + 4);
    const std::uint32_t words = wordCount(command, length);
    for (std::uint32_t i = 0; i < words; ++i) {
        const std::uint32_t value = qFromLittleEndian<std::uint32_t>(message + 4 * i);
        std::memcpy(message + 4 * i, &value, 4);
    }
}

void wordsToWire(char *message, std::uint32_t length)
{
    if (length < 8)
        return;
    std::uint32_t command = 0;
    std::memcpy(&command, message + 4, 4);
    const std::uint32_t words = wordCount(command, length);
    for (std::uint32_t i = 0; i < words; ++i) {
        std::uint32_t value = 0;
        std::memcpy(&value, message + 4 * i, 4);
        qToLittleEndian<std::uint32_t>(value, message + 4 * i);
    }
}

QByteArray encode(const GetSaveDataRequest &message) { return encodeAny(message); }
QByteArray encode(const GetSaveDataResponse &message) { return encodeAny(message); }
QByteArray encode(const SetSaveResultRequest &message) { return encodeAny(message); }
QByteArray encode(const SetSaveResultResponse &message) { return encodeAny(message); }
QByteArray encode(const WriteRunLogRequest &message) { return encodeAny(message); }
QByteArray encode(const WriteRunLogResponse &message) { return encodeAny(message); }

bool decode(QByteArrayView wire, GetSaveDataRequest &message)
{
    return decodeAny(wire, message, GetSaveDataRequestId);
}
bool decode(QByteArrayView wire, GetSaveDataResponse &message)
{
    return decodeAny(wire, message, GetSaveDataResponseId);
}
bool decode(QByteArrayView wire, SetSaveResultRequest &message)
{
    return decodeAny(wire, message, SetSaveResultRequestId);
}
bool decode(QByteArrayView wire, SetSaveResultResponse &message)
{
    return decodeAny(wire, message, SetSaveResultResponseId);
}
bool decode(QByteArrayView wire, WriteRunLogRequest &message)
{
    return decodeAny(wire, message, WriteRunLogRequestId);
}
bool decode(QByteArrayView wire, WriteRunLogResponse &message)
{
    return decodeAny(wire, message, WriteRunLogResponseId);
}

} // namespace HelperProtocol
