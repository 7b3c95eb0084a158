#include "RunLogLine.h"

#include <cstdio>

namespace RunLogLine {

QByteArray format(const char *format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    QByteArray line = formatList(format, arguments);
    va_end(arguments);
    return line;
}

QByteArray formatList(const char *format, va_list arguments)
{
    va_list measure;
    va_copy(measure, arguments);
    const int length = std::vsnprintf(nullptr, 0, format, measure);
    va_end(measure);
    if (length <= 0)
        return {};
    QByteArray line(length, Qt::Uninitialized);
    std::vsnprintf(line.data(), static_cast<size_t>(length) + 1, format, arguments);
    return line;
}

} // namespace RunLogLine
