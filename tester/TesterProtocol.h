#pragma once

#include <cstdint>

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

// The tester's frame protocol: request 55 len group item checksum, reply AA len .. data .. checksum,
// one request and one reply at a time.
namespace TesterProtocol {

constexpr char requestStart = 0x55;
constexpr char replyStart = static_cast<char>(0xAA);
constexpr qsizetype minimumReplySize = 3;
// The longest reply the length byte can announce: start byte, 255 counted bytes, checksum.
constexpr qsizetype maximumFramedReplySize = 257;
// The probe reads the reply's length byte as signed and accepts at most this.
constexpr int probeMaximumLengthByte = 10;

// A request without its checksum: 55 03 group item.
QByteArray request(int group, int item);

// Low 8 bits of the unsigned sum of the bytes.
std::uint8_t checksum(QByteArrayView bytes);

// "%02x " per byte, so "55 03 07 01 60 " for a five-byte frame and "" for none.
QString hexDump(QByteArrayView bytes);

// Start byte 0x55 and a signed length byte equal to the size less one (checksum not yet added).
bool isValidRequest(QByteArrayView request);

enum class Variant
{
    Query,
    Probe
};
enum class ReplyCheck
{
    Ok,
    CommunicationError,
    DataError
};

// Size (at least 3; the probe also wants byte 1 as signed <= 10), then start byte 0xAA and the
// checksum of all bytes but the last.
ReplyCheck checkReply(QByteArrayView reply, Variant variant);

// The size of the reply whose first bytes are `head`, framed as the requests are: the length byte
// counts the bytes after the start byte up to the checksum, so the frame is length + 2 bytes.
// 0 while fewer than two bytes are known; unframedReply when the head cannot start a framed
// reply (no start byte 0xAA, or a length byte of 0), which is then read until the line falls silent.
constexpr qsizetype unframedReply = -1;
qsizetype replyFrameSize(QByteArrayView head);

} // namespace TesterProtocol
