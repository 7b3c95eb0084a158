#include "WordBinaryPicture.h"

#include <QCryptographicHash>

#include "WordBinaryParts.h"

namespace WordBinary {

namespace {

constexpr std::uint16_t picfHeaderSize = 0x44;
constexpr std::uint16_t mmShape = 0x0064; // the picture is an OfficeArt shape that follows the PICF
constexpr std::uint16_t scaleUnity = 1000;

constexpr std::uint16_t recordSpContainer = 0xF004;
constexpr std::uint16_t recordFsp = 0xF00A;
constexpr std::uint16_t recordFopt = 0xF00B;
constexpr std::uint16_t recordFbse = 0xF007;
constexpr std::uint16_t recordBlipPng = 0xF01E;
constexpr std::uint16_t shapePictureFrame = 75;
constexpr std::uint16_t blipPngInstance = 0x6E0;
constexpr std::uint8_t blipTypePng = 6;
constexpr std::uint32_t shapeHasAnchor = 0x200;
constexpr std::uint32_t shapeHasShapeType = 0x800;
constexpr std::uint16_t propertyBlipIndex = 0x0104 | 0x4000; // pib, a blip id
constexpr std::uint32_t firstShapeId = 0x0401;

void recordHeader(ByteWriter &out, std::uint8_t version, std::uint16_t instance, std::uint16_t type,
                  std::uint32_t length)
{
    out.u16(std::uint16_t((version & 0x0F) | (instance << 4)));
    out.u16(type);
    out.u32(length);
}

} // namespace

QByteArray pictureData(const QByteArray &png, PictureSize size)
{
    const QByteArray uid = QCryptographicHash::hash(png, QCryptographicHash::Md4);
    constexpr std::uint32_t headerBytes = 8;
    constexpr std::uint32_t shapeBytes = headerBytes + 8 + headerBytes + 6; // FSP and one-property FOPT
    constexpr std::uint32_t fbseFixedBytes = 36;
    const auto blipBytes = std::uint32_t(headerBytes + 16 + 1 + png.size());
    const std::uint32_t fbseBytes = headerBytes + fbseFixedBytes + blipBytes;
    const std::uint32_t total = picfHeaderSize + headerBytes + shapeBytes + fbseBytes;

    // Written front to back into one buffer: the PNG is copied once.
    ByteWriter out;
    out.reserve(total);
    out.u32(total); // lcb
    out.u16(picfHeaderSize);
    out.u16(mmShape);
    out.zeros(6);                             // xExt, yExt, hMF
    out.zeros(14);                            // inner header
    out.u16(std::uint16_t(size.widthTwips));  // dxaGoal
    out.u16(std::uint16_t(size.heightTwips)); // dyaGoal
    out.u16(scaleUnity);                      // mx
    out.u16(scaleUnity);                      // my
    out.zeros(8);                             // no cropping
    out.u8(0);                                // flags
    out.u8(0);                                // bpp
    out.zeros(16);                            // no borders
    out.zeros(4);                             // origin
    out.u16(0);                               // cProps
    Q_ASSERT(out.size() == picfHeaderSize);

    recordHeader(out, 0x0F, 0, recordSpContainer, shapeBytes);
    recordHeader(out, 2, shapePictureFrame, recordFsp, 8);
    out.u32(firstShapeId);
    out.u32(shapeHasAnchor | shapeHasShapeType);
    recordHeader(out, 3, 1, recordFopt, 6);
    out.u16(propertyBlipIndex);
    out.u32(1); // the first (only) entry of the blip store that follows

    // The blip store entry with the PNG blip embedded right after it (not linked).
    recordHeader(out, 2, blipTypePng, recordFbse, fbseFixedBytes + blipBytes);
    out.u8(blipTypePng); // Windows
    out.u8(blipTypePng); // Mac OS
    out.raw(uid);
    out.u16(0x00FF); // tag
    out.u32(blipBytes);
    out.u32(1); // reference count
    out.u32(0); // no delay stream offset: the blip is embedded
    out.u8(0);  // usage
    out.u8(0);  // no name
    out.u8(0);
    out.u8(0);
    recordHeader(out, 0, blipPngInstance, recordBlipPng, blipBytes - headerBytes);
    out.raw(uid);
    out.u8(0xFF); // tag
    out.raw(png);
    Q_ASSERT(out.size() == qsizetype(total));
    return out.bytes();
}

} // namespace WordBinary
