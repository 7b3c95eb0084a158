#include "PngHeader.h"

#include <QtEndian>

namespace {

constexpr unsigned char signature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
constexpr unsigned char iendChunk[12] = {0, 0, 0, 0, 'I', 'E', 'N', 'D', 0xAE, 0x42, 0x60, 0x82};
constexpr qsizetype ihdrEnd = 8 + 8 + 13 + 4; // signature, length+type, data, CRC

bool bytesEqual(QByteArrayView bytes, qsizetype offset, const unsigned char *expected, qsizetype length)
{
    for (qsizetype i = 0; i < length; ++i)
        if (static_cast<unsigned char>(bytes[offset + i]) != expected[i])
            return false;
    return true;
}

// The bit depths PNG allows for each colour type.
bool validDepth(unsigned colourType, unsigned depth)
{
    switch (colourType) {
    case 0:
        return depth == 1 || depth == 2 || depth == 4 || depth == 8 || depth == 16;
    case 3:
        return depth == 1 || depth == 2 || depth == 4 || depth == 8;
    case 2:
    case 4:
    case 6:
        return depth == 8 || depth == 16;
    default:
        return false;
    }
}

} // namespace

PngHeader PngHeader::read(QByteArrayView bytes)
{
    PngHeader header;
    if (bytes.size() < 8 || !bytesEqual(bytes, 0, signature, 8))
        return header;
    if (bytes.size() < ihdrEnd) {
        header.status = Status::Truncated;
        return header;
    }
    const char *data = bytes.data();
    if (qFromBigEndian<std::uint32_t>(data + 8) != 13 || QByteArrayView(data + 12, 4) != "IHDR")
        return header;
    const std::uint32_t width = qFromBigEndian<std::uint32_t>(data + 16);
    const std::uint32_t height = qFromBigEndian<std::uint32_t>(data + 20);
    const unsigned depth = static_cast<unsigned char>(data[24]);
    const unsigned colourType = static_cast<unsigned char>(data[25]);
    // Dimensions are limited to 2^31 - 1 by the format.
    if (width == 0 || height == 0 || width > 0x7FFFFFFFu || height > 0x7FFFFFFFu ||
        !validDepth(colourType, depth))
        return header;
    if (bytes.size() < ihdrEnd + 12 || !bytesEqual(bytes, bytes.size() - 12, iendChunk, 12)) {
        header.status = Status::Truncated;
        return header;
    }
    header.status = Status::Valid;
    header.width = width;
    header.height = height;
    return header;
}
