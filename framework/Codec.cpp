#include "Codec.h"

#include <atomic>
#include <cstdint>
#include <cstring>

#include <QStringDecoder>
#include <QStringEncoder>

namespace {

enum class Choice { Unset, Gbk, Latin1 };
std::atomic<Choice> s_choice{Choice::Unset};

bool gbkAvailable()
{
    static const bool available = QStringEncoder("GBK").isValid() && QStringDecoder("GBK").isValid();
    return available;
}

Choice choice()
{
    Choice c = s_choice.load(std::memory_order_relaxed);
    if (c == Choice::Unset) {
        c = gbkAvailable() ? Choice::Gbk : Choice::Latin1;
        s_choice.store(c, std::memory_order_relaxed);
    }
    return c;
}

// The ASCII checks run on every log record twice; eight bytes at a time keeps them cheap.
bool isAscii(QStringView text)
{
    const char16_t *chars = text.utf16();
    qsizetype i = 0;
    for (; i + 4 <= text.size(); i += 4) {
        std::uint64_t word;
        std::memcpy(&word, chars + i, sizeof(word));
        if (word & 0xFF80FF80FF80FF80ull)
            return false;
    }
    for (; i < text.size(); ++i)
        if (chars[i] >= 0x80)
            return false;
    return true;
}

bool isAscii(QByteArrayView bytes)
{
    const char *data = bytes.data();
    qsizetype i = 0;
    for (; i + 8 <= bytes.size(); i += 8) {
        std::uint64_t word;
        std::memcpy(&word, data + i, sizeof(word));
        if (word & 0x8080808080808080ull)
            return false;
    }
    for (; i < bytes.size(); ++i)
        if (static_cast<unsigned char>(data[i]) >= 0x80)
            return false;
    return true;
}

// Stateless converters, one per thread: ICU converter objects are not shareable between threads
// and are too costly to open per call on the logging path.
QStringEncoder &gbkEncoder()
{
    thread_local QStringEncoder encoder("GBK", QStringConverter::Flag::Stateless);
    return encoder;
}

QStringDecoder &gbkDecoder()
{
    thread_local QStringDecoder decoder("GBK", QStringConverter::Flag::Stateless);
    return decoder;
}

} // namespace

bool Codec::install()
{
    s_choice.store(gbkAvailable() ? Choice::Gbk : Choice::Latin1);
    return isGbk();
}

bool Codec::isGbk() { return choice() == Choice::Gbk; }

QString Codec::name() { return isGbk() ? QStringLiteral("GBK") : QStringLiteral("ISO-8859-1"); }

QByteArray Codec::toBytes(QStringView text)
{
    // ASCII is the same in GBK and Latin-1; most log lines take this path.
    if (isAscii(text) || !isGbk())
        return text.toLatin1();
    return gbkEncoder().encode(text);
}

QString Codec::toText(QByteArrayView bytes)
{
    if (isAscii(bytes) || !isGbk())
        return QString::fromLatin1(bytes);
    return gbkDecoder().decode(bytes);
}

QString Codec::fromField(const char *field, qsizetype maxBytes)
{
    const void *nul = std::memchr(field, 0, static_cast<size_t>(maxBytes));
    const qsizetype length = nul ? static_cast<const char *>(nul) - field : maxBytes;
    return toText(QByteArrayView(field, length));
}

void Codec::toField(QStringView text, char *field, qsizetype fieldSize)
{
    if (fieldSize <= 0)
        return;
    const QByteArray bytes = toBytes(text);
    const qsizetype length = std::min(bytes.size(), fieldSize - 1);
    std::memcpy(field, bytes.constData(), static_cast<size_t>(length));
    std::memset(field + length, 0, static_cast<size_t>(fieldSize - length));
}
