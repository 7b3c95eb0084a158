#include "ByteWriter.h"

#include <QtEndian>

void ByteWriter::put16(char *at, std::uint16_t value)
{
    qToLittleEndian<std::uint16_t>(value, at);
}

void ByteWriter::put32(char *at, std::uint32_t value)
{
    qToLittleEndian<std::uint32_t>(value, at);
}

void ByteWriter::u16(std::uint16_t value)
{
    char bytes[2];
    put16(bytes, value);
    m_bytes.append(bytes, 2);
}

void ByteWriter::u32(std::uint32_t value)
{
    char bytes[4];
    put32(bytes, value);
    m_bytes.append(bytes, 4);
}

void ByteWriter::utf16(const QString &text)
{
    for (const QChar c : text)
        u16(c.unicode());
}

void ByteWriter::padTo(qsizetype alignment)
{
    const qsizetype rest = m_bytes.size() % alignment;
    if (rest)
        zeros(alignment - rest);
}
