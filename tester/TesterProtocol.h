#pragma once

#include <cstdint>

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

class TesterPort;

// The tester's frame protocol: request 55 len group item checksum, reply AA len .. data .. checksum,
// one request and one reply at a time.
namespace TesterProtocol {

constexpr char requestStart = 0x55;
constexpr char replyStart = static_cast<char>(0xAA);
constexpr qsizetype minimumReplySize = 3;
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

} // namespace TesterProtocol

// One exchange on an open port. The request comes without checksum; it is appended here and the
// buffer is emptied on success. `reply` is replaced by what was read. Failures are logged.
// The query variant also writes hex dumps of both frames to the debug log.
bool exchangeFrame(TesterPort &port, QByteArray &request, QByteArray &reply);
// The probe variant: no dumps, stricter about the reply's length byte.
bool probeExchange(TesterPort &port, QByteArray &request, QByteArray &reply);
