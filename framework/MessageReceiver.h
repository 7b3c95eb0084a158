#pragma once

#include <cstdint>

// What a sender needs of a receiver: somewhere to post a message. Managers and windows are both
// receivers, so a manager can be wired to the real window or, in a test, to a recorder.
class MessageReceiver
{
public:
    virtual ~MessageReceiver() = default;
    virtual bool postMessage(const void *message, std::uint32_t length) = 0;
};
