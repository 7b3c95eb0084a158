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

QByteArray pictureData(const QByteArray &png, PictureSize size);

} // namespace WordBinary
