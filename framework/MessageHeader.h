#pragma once

#include <cstddef>
#include <cstdint>

// Every message begins with this header. Messages are plain packed structs, zero-filled when made,
// copied byte for byte into the receiver's queue; `size` is the only authority on their length.
#pragma pack(push, 1)
struct MessageHeader
{
    std::uint32_t size = 0;
    std::uint32_t id = 0;
};
#pragma pack(pop)
static_assert(sizeof(MessageHeader) == 8);
static_assert(offsetof(MessageHeader, size) == 0 && offsetof(MessageHeader, id) == 4);

// One numbering serves the whole of kestrel; the helper protocol's command ids are part of it.
enum MessageId : std::uint32_t
{
    MSG_START_TIMER = 1,
    MSG_STOP_TIMER = 2,
    MSG_LOG_RECORD = 3,
    MSG_THREAD_STARTED = 4,
    MSG_THREAD_STOPPING = 5,
    MSG_SAVE_DATA_REQUEST = 6,
    MSG_LOG_DRAIN = 7, // the log manager's own wake-up: queued records wait for it
    MSG_QUERY_DATA_REQUEST = 8,
    MSG_QUERY_DATA_FINISHED = 9,
    MSG_LOG_WRITE_OUT = 10,     // the log manager writes what it holds now instead of at its next timer
    MSG_SAVE_DATA_OUTCOME = 12, // service manager -> window: how an export ended
    MSG_BATTERY_RESULT = 16,
    MSG_GROUNDING_RESULT = 17,
    MSG_STARTER_RESULT = 18,
    MSG_CHARGING3K_RESULT = 19,
    MSG_CHARGING2K_RESULT = 20,
    MSG_AVG2K_RESULT = 21,
    MSG_TEST_DATE = 22,
    MSG_REGISTRATION_NO_INFO = 23,
    MSG_CAPACITY_INFO = 24,
    MSG_GET_SAVE_DATA_REQUEST = 33,
    MSG_GET_SAVE_DATA_RESPONSE = 34,
    MSG_SET_SAVE_RESULT_REQUEST = 35,
    MSG_SET_SAVE_RESULT_RESPONSE = 36,
    MSG_WRITE_RUN_LOG_REQUEST = 37,
    MSG_WRITE_RUN_LOG_RESPONSE = 38,
    MSG_HISTORY_RECORD = 48, // main window -> history manager: a query has ended
    MSG_HISTORY_EVENT = 49,  // main window -> history manager: a kept test was saved, printed or reopened
};

// Makes a zero-filled message of type M with its header set.
template <typename M> M makeMessage(std::uint32_t id)
{
    M message{};
    message.header.size = sizeof(M);
    message.header.id = id;
    return message;
}

#pragma pack(push, 1)
struct StartTimerMessage
{
    MessageHeader header;
    std::int32_t key = 0;
    std::int32_t interval = 0;
    std::uint32_t repeatCount = 0;
};
struct StopTimerMessage
{
    MessageHeader header;
    std::int32_t key = 0;
};
struct ThreadMessage
{
    MessageHeader header;
};
#pragma pack(pop)
static_assert(sizeof(StartTimerMessage) == 20);
static_assert(sizeof(StopTimerMessage) == 12);
static_assert(sizeof(ThreadMessage) == 8);
