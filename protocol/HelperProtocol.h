#pragma once

#include <cstddef>
#include <cstdint>

#include <QByteArray>
#include <QByteArrayView>

#include "MessageHeader.h"

// The messages kestrel and quillet exchange over one local TCP connection. In memory they are
// host-order structs whose first 8 bytes are a MessageHeader, so a received request can be posted
// to a manager unchanged; on the wire every integer is a little-endian u32. The helpers below
// convert explicitly, whatever the host.
namespace HelperProtocol {

constexpr std::uint16_t port = 35671;
constexpr std::uint32_t accessCode = 0x4E7A19C3;
constexpr std::uint32_t headerLength = 12;
constexpr std::uint32_t maxMessageLength = 10240;
// How long quillet waits for each answer before it gives up. A link that stays silent longer than
// this after the login has no helper behind it any more.
constexpr int helperReceiveTimeoutMs = 120000;

enum Command : std::uint32_t {
    GetSaveDataRequestId = 33,
    GetSaveDataResponseId = 34,
    SetSaveResultRequestId = 35,
    SetSaveResultResponseId = 36,
    WriteRunLogRequestId = 37,
    WriteRunLogResponseId = 38,
};

enum SaveDataResult : std::uint32_t {
    ResultAccessDenied = 0,
    ResultNoExportPending = 1,
    ResultSaveDataFollows = 2,
};

// Link state-machine classes given to each message by decode and code.
enum MessageClass : int {
    ClassLoginRequest = 1,
    ClassLoginAck = 2,
    ClassSaveResultRequest = 3,
    ClassSaveResultAck = 4,
    ClassOrdinary = 7,
};

#pragma pack(push, 1)
struct Header
{
    std::uint32_t msgLength = 0;
    std::uint32_t msgCommandId = 0;
    std::uint32_t interfaceId = 0;
};

struct GetSaveDataRequest
{
    Header header;
    std::uint32_t accessCode = 0;
};

struct GetSaveDataResponse
{
    Header header;
    std::uint32_t result = 0;
    char title[200] = {};
    char pageHeader[1024] = {};
    char pageFooter[1024] = {};
    char picturePath[1024] = {};
    char docPath[256] = {};
};

struct SetSaveResultRequest
{
    Header header;
    std::uint32_t reserved = 0;
};

struct SetSaveResultResponse
{
    Header header;
};

struct WriteRunLogRequest
{
    Header header;
    char text[1024] = {};
};

struct WriteRunLogResponse
{
    Header header;
};
#pragma pack(pop)

static_assert(sizeof(Header) == 12);
static_assert(offsetof(Header, msgLength) == 0 && offsetof(Header, msgCommandId) == 4);
static_assert(offsetof(Header, interfaceId) == 8);
static_assert(offsetof(Header, msgLength) == offsetof(MessageHeader, size));
static_assert(offsetof(Header, msgCommandId) == offsetof(MessageHeader, id));
static_assert(sizeof(GetSaveDataRequest) == 16 && offsetof(GetSaveDataRequest, accessCode) == 12);
static_assert(sizeof(GetSaveDataResponse) == 3544);
static_assert(offsetof(GetSaveDataResponse, result) == 12);
static_assert(offsetof(GetSaveDataResponse, title) == 16);
static_assert(offsetof(GetSaveDataResponse, pageHeader) == 216);
static_assert(offsetof(GetSaveDataResponse, pageFooter) == 1240);
static_assert(offsetof(GetSaveDataResponse, picturePath) == 2264);
static_assert(offsetof(GetSaveDataResponse, docPath) == 3288);
static_assert(sizeof(SetSaveResultRequest) == 16 && offsetof(SetSaveResultRequest, reserved) == 12);
static_assert(sizeof(SetSaveResultResponse) == 12);
static_assert(sizeof(WriteRunLogRequest) == 1036 && offsetof(WriteRunLogRequest, text) == 12);
static_assert(sizeof(WriteRunLogResponse) == 12);

// A zero-filled message of type M with length and command set.
template <typename M>
M make(std::uint32_t command)
{
    M message{};
    message.header.msgLength = sizeof(M);
    message.header.msgCommandId = command;
    return message;
}

// Reads the three header words of a wire message (little-endian); false when fewer than 12 bytes.
bool peekHeader(QByteArrayView wire, Header &header);

// Host struct -> wire bytes and back. decode() fails unless the bytes are exactly sizeof(M) long
// and carry the command M is for.
QByteArray encode(const GetSaveDataRequest &message);
QByteArray encode(const GetSaveDataResponse &message);
QByteArray encode(const SetSaveResultRequest &message);
QByteArray encode(const SetSaveResultResponse &message);
QByteArray encode(const WriteRunLogRequest &message);
QByteArray encode(const WriteRunLogResponse &message);

bool decode(QByteArrayView wire, GetSaveDataRequest &message);
bool decode(QByteArrayView wire, GetSaveDataResponse &message);
bool decode(QByteArrayView wire, SetSaveResultRequest &message);
bool decode(QByteArrayView wire, SetSaveResultResponse &message);
bool decode(QByteArrayView wire, WriteRunLogRequest &message);
bool decode(QByteArrayView wire, WriteRunLogResponse &message);

// Converts the u32 words of any message of this protocol between wire and host order in place;
// the texts are bytes and stay as they are. `length` is the message's whole length.
void wordsToHost(char *message, std::uint32_t length);
void wordsToWire(char *message, std::uint32_t length);

} // namespace HelperProtocol
