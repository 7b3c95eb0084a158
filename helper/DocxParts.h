#pragma once

#include <cstdint>
#include <vector>

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>
#include <QStringView>

// One emitter per part of a WordprocessingML package. Each returns the part's complete XML
// (UTF-8, with declaration). Texts may be anything the operator typed: they are split into lines
// and stripped of what XML 1.0 cannot carry.
namespace DocxParts {

// Page and text area in twentieths of a point: A4 with the word processor's usual margins.
struct PageLayout
{
    int pageWidth = 11906;
    int pageHeight = 16838;
    int marginTop = 1440;
    int marginBottom = 1440;
    int marginLeft = 1800;
    int marginRight = 1800;
    int headerDistance = 851;
    int footerDistance = 992;

    int textWidth() const { return pageWidth - marginLeft - marginRight; }
    int textHeight() const { return pageHeight - marginTop - marginBottom; }
};

// Sizes of the picture on the page, in EMU (914400 per inch).
struct PictureExtent
{
    std::int64_t width = 0;
    std::int64_t height = 0;
};

// Scales a picture of the given pixel size to the text width, keeping its aspect ratio; a picture
// taller than the text area is scaled down further so that it stays on one page.
PictureExtent fitPicture(std::uint32_t pixelWidth, std::uint32_t pixelHeight, const PageLayout &layout,
                         int reservedHeight);

// The text with every character removed that XML 1.0 cannot hold (controls other than tab and line
// ends, lone surrogates, U+FFFE, U+FFFF).
QString xmlSafe(QStringView text);
// Lines of a text split at CR LF, CR or LF; an empty text is one empty line.
QStringList lines(QStringView text);

struct ContentType
{
    QString key; // extension for defaults, part name for overrides
    QString contentType;
};
struct Relationship
{
    QString id;
    QString type;
    QString target;
};

struct DocumentReferences
{
    QString headerId;
    QString footerId;
    QString pictureId;
};

QByteArray contentTypes(const std::vector<ContentType> &defaults, const std::vector<ContentType> &overrides);
QByteArray relationships(const std::vector<Relationship> &relationships);
// Body: the title centred at 14 pt, then a centred paragraph with the picture inline.
QByteArray document(QStringView title, const DocumentReferences &references, const PictureExtent &extent,
                    const PageLayout &layout);
// Page header / footer: each line of the text a centred 9 pt paragraph.
QByteArray header(QStringView text);
QByteArray footer(QStringView text);
QByteArray styles();
QByteArray coreProperties(QStringView title, const QDateTime &createdUtc);
QByteArray appProperties();

// Sizes used above, in half points.
constexpr int titleHalfPoints = 28;
constexpr int headerFooterHalfPoints = 18;

} // namespace DocxParts
