#pragma once

#include <cstddef>
#include <cstdint>

#include "MessageHeader.h"

// One run-log record on its way to the log thread: flags and the time-stamped line in GBK.
#pragma pack(push, 1)
struct LogRecordMessage
{
    MessageHeader header;
    std::int32_t flag = 0;
    char text[1024] = {};
};
#pragma pack(pop)
static_assert(sizeof(LogRecordMessage) == 1036);
static_assert(offsetof(LogRecordMessage, flag) == 8 && offsetof(LogRecordMessage, text) == 12);
