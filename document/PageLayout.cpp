#include "PageLayout.h"

#include <algorithm>
#include <cmath>

namespace PageLayout {

QStringList lines(QStringView text)
{
    QStringList result;
    QString current;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar ch = text[i];
        if (ch == u'\r' || ch == u'\n') {
            result.append(current);
            current.clear();
            if (ch == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n')
                ++i;
        } else {
            current.append(ch);
        }
    }
    result.append(current);
    return result;
}

int lineCount(QStringView text)
{
    return text.isEmpty() ? 0 : int(lines(text).size());
}

Geometry compose(int titleLines, int headerLines, int footerLines, std::uint32_t pixelWidth,
                 std::uint32_t pixelHeight)
{
    Geometry page;
    // The header and footer lines always lie inside their margins, so no word processor has to
    // push the body aside: the body starts and ends where this says.
    page.marginTop = std::max(minimumMargin, headerDistance + headerLines * headerFooterLine + bodyGap);
    page.marginBottom = std::max(minimumMargin, footerDistance + footerLines * headerFooterLine + bodyGap);
    page.headerTop = headerDistance;
    page.footerTop = pageHeight - footerDistance - footerLines * headerFooterLine;
    page.titleTop = page.marginTop;

    const int pictureTop = page.marginTop + std::max(titleLines, 1) * titleLine;
    const int room = pageHeight - page.marginBottom - pictureSpare - pictureTop;
    if (pixelWidth == 0 || pixelHeight == 0) {
        page.picture = QRect(marginLeft, pictureTop, 1, 1);
        return page;
    }
    const double aspect = double(pixelHeight) / double(pixelWidth);
    int width = textWidth;
    int height = int(std::lround(width * aspect));
    if (height > room) {
        width = std::max(int(std::floor(room / aspect)), 1);
        height = int(std::lround(width * aspect));
    }
    const int minimumWidth = std::min(int(std::ceil(pixelWidth * minimumTwipsPerPixel)), textWidth);
    if (width < minimumWidth) {
        width = minimumWidth;
        height = int(std::lround(width * aspect));
        page.fits = height <= room;
    }
    page.picture =
        QRect(marginLeft + (textWidth - width) / 2, pictureTop, std::max(width, 1), std::max(height, 1));
    return page;
}

Geometry compose(const QString &title, const QString &header, const QString &footer, std::uint32_t pixelWidth,
                 std::uint32_t pixelHeight)
{
    return compose(int(lines(title).size()), lineCount(header), lineCount(footer), pixelWidth, pixelHeight);
}

int maxHeaderFooterLines()
{
    int lines = 0;
    while (compose(1, lines + 1, lines + 1, reportPixelWidth, reportPixelHeight).fits)
        ++lines;
    return lines;
}

} // namespace PageLayout
