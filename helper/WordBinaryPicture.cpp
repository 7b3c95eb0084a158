#include "WordBinaryPicture.h"

#include <algorithm>
#include <cmath>

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

bool pngSize(const QByteArray &png, std::uint32_t *width, std::uint32_t *height, QString *error)
{
    static const QByteArray signature("\x89PNG\r\n\x1a\n", 8);
    if (png.isEmpty()) {
        *error = QStringLiteral("picture is empty");
        return false;
    }
    // Signature, then the IHDR chunk: length, "IHDR", width, height (big-endian).
    if (png.size() < 24 || !png.startsWith(signature) || png.mid(12, 4) != "IHDR") {
        *error = QStringLiteral("picture is not a PNG image");
        return false;
    }
    const auto bigEndian = [&png](qsizetype at) {
        return (std::uint32_t(std::uint8_t(png[at])) << 24) | (std::uint32_t(std::uint8_t(png[at + 1])) << 16)
               | (std::uint32_t(std::uint8_t(png[at + 2])) << 8) | std::uint32_t(std::uint8_t(png[at + 3]));
    };
    *width = bigEndian(16);
    *height = bigEndian(20);
    if (*width == 0 || *height == 0 || *width > 0x7FFFFFFF || *height > 0x7FFFFFFF) {
        *error = QStringLiteral("picture has an invalid size %1 x %2").arg(*width).arg(*height);
        return false;
    }
    return true;
}

PictureSize fitPicture(std::uint32_t pixelWidth, std::uint32_t pixelHeight, int maxWidthTwips, int maxHeightTwips)
{
    const double aspect = double(pixelHeight) / double(pixelWidth);
    PictureSize size{maxWidthTwips, int(std::lround(maxWidthTwips * aspect))};
    if (size.heightTwips > maxHeightTwips)
        size = {int(std::lround(maxHeightTwips / aspect)), maxHeightTwips};
    size.widthTwips = std::max(size.widthTwips, 1);
    size.heightTwips = std::max(size.heightTwips, 1);
    return size;
}

QByteArray pictureData(const QByteArray &png, PictureSize size)
{
    const QByteArray uid = QCryptographicHash::hash(png, QCryptographicHash::Md4);

    // The blip store entry with the PNG blip embedded right after it (not linked).
    ByteWriter blip;
    recordHeader(blip, 0, blipPngInstance, recordBlipPng, std::uint32_t(16 + 1 + png.size()));
    blip.raw(uid);
    blip.u8(0xFF); // tag
    blip.raw(png);

    ByteWriter fbse;
    recordHeader(fbse, 2, blipTypePng, recordFbse, std::uint32_t(36 + blip.size()));
    fbse.u8(blipTypePng); // Windows
    fbse.u8(blipTypePng); // Mac OS
    fbse.raw(uid);
    fbse.u16(0x00FF);     // tag
    fbse.u32(std::uint32_t(blip.size()));
    fbse.u32(1);          // reference count
    fbse.u32(0);          // no delay stream offset: the blip is embedded
    fbse.u8(0);           // usage
    fbse.u8(0);           // no name
    fbse.u8(0);
    fbse.u8(0);
    fbse.raw(blip.bytes());

    ByteWriter shape;
    recordHeader(shape, 2, shapePictureFrame, recordFsp, 8);
    shape.u32(firstShapeId);
    shape.u32(shapeHasAnchor | shapeHasShapeType);
    recordHeader(shape, 3, 1, recordFopt, 6);
    shape.u16(propertyBlipIndex);
    shape.u32(1); // the first (only) entry of the blip store that follows

    ByteWriter container;
    recordHeader(container, 0x0F, 0, recordSpContainer, std::uint32_t(shape.size()));
    container.raw(shape.bytes());

    ByteWriter out;
    out.u32(std::uint32_t(picfHeaderSize + container.size() + fbse.size())); // lcb
    out.u16(picfHeaderSize);
    out.u16(mmShape);
    out.zeros(6);  // xExt, yExt, hMF
    out.zeros(14); // inner header
    out.u16(std::uint16_t(size.widthTwips));  // dxaGoal
    out.u16(std::uint16_t(size.heightTwips)); // dyaGoal
    out.u16(scaleUnity); // mx
    out.u16(scaleUnity); // my
    out.zeros(8);  // no cropping
    out.u8(0);     // flags
    out.u8(0);     // bpp
    out.zeros(16); // no borders
    out.zeros(4);  // origin
    out.u16(0);    // cProps
    Q_ASSERT(out.size() == picfHeaderSize);
    out.raw(container.bytes());
    out.raw(fbse.bytes());
    return out.bytes();
}

} // namespace WordBinary
