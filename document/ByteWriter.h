#pragma once

#include <cstdint>

#include <QByteArray>
#include <QString>

// Little-endian appender for the binary records of a document (the compound file and the Word
// binary streams). put16/put32 write into bytes that are already laid out.
class ByteWriter final
{
public:
    void reserve(qsizetype bytes) { m_bytes.reserve(bytes); }
    void u8(std::uint8_t value) { m_bytes.append(char(value)); }
    void u16(std::uint16_t value);
    void u32(std::uint32_t value);
    void zeros(qsizetype count) { m_bytes.append(count, '\0'); }
    void raw(const QByteArray &bytes) { m_bytes.append(bytes); }
    // UTF-16 code units, no terminator.
    void utf16(const QString &text);
    void padTo(qsizetype alignment);
    qsizetype size() const { return m_bytes.size(); }
    const QByteArray &bytes() const { return m_bytes; }
    void setU16(qsizetype at, std::uint16_t value) { put16(m_bytes.data() + at, value); }
    void setU32(qsizetype at, std::uint32_t value) { put32(m_bytes.data() + at, value); }

    static void put16(char *at, std::uint16_t value);
    static void put32(char *at, std::uint32_t value);

private:
    QByteArray m_bytes;
};
