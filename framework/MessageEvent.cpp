#include "MessageEvent.h"

MessageEvent::MessageEvent(const void *message, std::uint32_t length)
    : QEvent(Type), m_bytes(static_cast<const char *>(message), static_cast<qsizetype>(length))
{
}
