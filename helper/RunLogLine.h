#pragma once

#include <cstdarg>

#include <QByteArray>

// Run-log lines are formatted with C printf rules into GBK bytes, the form in which they travel to
// kestrel; %s arguments are GBK bytes as well (see Codec::toBytes).
namespace RunLogLine {

QByteArray format(const char *format, ...) __attribute__((format(printf, 1, 2)));
QByteArray formatList(const char *format, va_list arguments) __attribute__((format(printf, 1, 0)));

} // namespace RunLogLine
