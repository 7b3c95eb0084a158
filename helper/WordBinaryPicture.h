#pragma once

#include <cstdint>

#include <QByteArray>

// The inline picture of a Word 97-2003 document: a PICF followed by an OfficeArt shape whose
// blip store entry embeds the PNG, as stored in the Data stream.
namespace WordBinary {

struct PictureSize
{
    int widthTwips = 0;
    int heightTwips = 0;
};

// The largest size of the pixel aspect ratio that fits the box (in twips).
PictureSize fitPicture(std::uint32_t pixelWidth, std::uint32_t pixelHeight, int maxWidthTwips,
                       int maxHeightTwips);

QByteArray pictureData(const QByteArray &png, PictureSize size);

} // namespace WordBinary
