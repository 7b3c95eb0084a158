#pragma once

#include <cstddef>
#include <cstdint>

#include "MessageHeader.h"
#include "TestRecord.h"

// Messages from the main window to the history manager. Packed plain structs, made with
// makeMessage<M>(id); texts are GBK through Codec::toField, "/" as path separator.
#pragma pack(push, 1)
// A query has ended: the window's record as it stands, with what the header showed.
struct HistoryRecordMessage
{
    MessageHeader header;
    std::uint8_t key[16] = {}; // UUID, RFC 4122 byte order
    std::int64_t testedUtcMs = 0;
    std::int32_t utcOffsetSeconds = 0;
    char portName[64] = {};
    char customer[256] = {};
    char batteryModel[256] = {};
    TestRecord record;
};

// Something happened to the test with this key (see HistoryEventKind).
struct HistoryEventMessage
{
    MessageHeader header;
    std::uint8_t key[16] = {};
    std::int32_t kind = 0;
    std::int64_t utcMs = 0;
    char documentPath[256] = {};
    char picturePath[1024] = {};
    char outcome[128] = {};
};
#pragma pack(pop)

static_assert(sizeof(HistoryRecordMessage) == 8 + 16 + 8 + 4 + 64 + 256 + 256 + 135);
static_assert(offsetof(HistoryRecordMessage, key) == 8 && offsetof(HistoryRecordMessage, record) == 612);
static_assert(sizeof(HistoryEventMessage) == 8 + 16 + 4 + 8 + 256 + 1024 + 128);

#include "HistoryRecord.h"

// Between the value types and their messages (the workstation is the receiver's own).
HistoryRecordMessage toMessage(const HistoryRecord &record);
HistoryRecord fromMessage(const HistoryRecordMessage &message, const QString &workstation);
HistoryEventMessage toMessage(const HistoryEvent &event);
HistoryEvent fromMessage(const HistoryEventMessage &message);
