#pragma once

#include <cstdint>

#include <QRect>
#include <QString>
#include <QStringList>
#include <QStringView>

// The one page every output of a report shares: the .doc and .docx writers, the PDF and the
// printed page. Lengths are twips (1/1440 inch), the word processors' own unit.
//
// Top to bottom: the page header lines from headerDistance down, a gap, the body (the centred
// title lines, then the report picture centred below them), a gap, the footer lines ending
// footerDistance above the bottom edge. Text lines have an exact height and their baseline at
// four fifths of it, the rule the word processors apply to lines of exact height, so every
// output puts each line at the same place whatever font it finds.
namespace PageLayout {

inline constexpr int pageWidth = 11906; // A4
inline constexpr int pageHeight = 16838;
inline constexpr int marginLeft = 1800;
inline constexpr int marginRight = 1800;
inline constexpr int textWidth = pageWidth - marginLeft - marginRight;
inline constexpr int headerDistance = 851; // top edge to the first header line
inline constexpr int footerDistance = 992; // bottom edge to the end of the last footer line
inline constexpr int minimumMargin = 1440; // top and bottom margin while header and footer are short
inline constexpr int bodyGap = 240;        // between the header lines and the body, the body and the footer

// Every text of the page is set in this family; kestrel maps it to an installed face.
inline constexpr char16_t fontFamily[] = u"Arial";
inline constexpr int titlePoints = 14;
inline constexpr int titleLine = 400; // exact height of a title line
inline constexpr int headerFooterPoints = 9;
inline constexpr int headerFooterLine = 240; // exact height of a header or footer line
inline constexpr double baselineRatio = 0.8;
// Widest a title, header or footer line may be (measured in its font at its size): a little less
// than the text width, so that no output wraps it whatever small differences its font metrics have.
inline constexpr int maxLineWidth = textWidth * 94 / 100;

// Room kept under the picture: the line holding it also holds the descent of its paragraph font.
inline constexpr int pictureSpare = 120;
// The smallest a picture's pixel may become, in twips: there the report's 16-pixel texts are still
// 6 points high. The picture shrinks to make room for header and footer lines, never below this.
inline constexpr double minimumTwipsPerPixel = 6.0 * 20.0 / 16.0;

// Lines of a text split at CR LF, CR or LF; an empty text is one empty line.
QStringList lines(QStringView text);
// How many lines a page header or footer takes: none for an empty text.
int lineCount(QStringView text);

// Where everything goes on the page of one document.
struct Geometry
{
    int marginTop = minimumMargin;    // where the body starts
    int marginBottom = minimumMargin; // from the body's end to the bottom edge
    int headerTop = headerDistance;   // top of the first header line
    int footerTop = 0;                // top of the first footer line
    int titleTop = minimumMargin;
    QRect picture;    // position and size of the report picture
    bool fits = true; // false when the picture had to stay larger than the body allows

    int footerDistanceFromTop() const { return pageHeight - footerDistance; }
};

Geometry compose(int titleLines, int headerLines, int footerLines, std::uint32_t pixelWidth,
                 std::uint32_t pixelHeight);
Geometry compose(const QString &title, const QString &header, const QString &footer, std::uint32_t pixelWidth,
                 std::uint32_t pixelHeight);

// The most lines a page header, and as many for the footer, may have so that a one-line title and
// the report picture (794 x 1123, no smaller than minimumTwipsPerPixel allows) still fit the page.
int maxHeaderFooterLines();

// Baseline of a text line of the given exact height whose top is lineTop.
inline double baseline(int lineTop, int lineHeight)
{
    return lineTop + baselineRatio * lineHeight;
}

inline constexpr std::uint32_t reportPixelWidth = 794;
inline constexpr std::uint32_t reportPixelHeight = 1123;

} // namespace PageLayout
