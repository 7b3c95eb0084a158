#include "MessageEvent.h"

#include <cstring>

MessageEvent *MessageEvent::create(const void *message, std::uint32_t length)
{
    static_assert(payloadOffset >= sizeof(MessageEvent));
    void *block = ::operator new(payloadOffset + length);
    auto *event = new (block) MessageEvent(length);
    std::memcpy(static_cast<char *>(block) + payloadOffset, message, length);
    return event;
}
