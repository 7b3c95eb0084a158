#pragma once

#include <cstdint>

#include <QByteArray>
#include <QString>

// What an exported document holds, whatever its format: the title, the page header and footer
// (line breaks kept) and the report picture as PNG bytes with its pixel size.
struct DocumentContent
{
    QString title;
    QString header;
    QString footer;
    QByteArray png;
    std::uint32_t pixelWidth = 0;
    std::uint32_t pixelHeight = 0;
};
