#include "PaintedPage.h"

#include <QFont>
#include <QFontMetricsF>
#include <QPainter>
#include <QRect>

namespace PaintedPage {

namespace {

// Sizes are given in page units (twips) so that the page is the same on every device.
QFont pageFont(int points)
{
    QFont font(QString::fromUtf16(PageLayout::fontFamily));
    font.setPixelSize(points * 20);
    font.setHintingPreference(QFont::PreferNoHinting);
    return font;
}

// Each line centred in the text width, its baseline where the layout's exact line height puts it.
void drawLines(QPainter &painter, const QStringList &lines, int top, int lineHeight, int points)
{
    const QFont font = pageFont(points);
    painter.setFont(font);
    const QFontMetricsF metrics(font, painter.device());
    for (int i = 0; i < lines.size(); ++i) {
        const QString &line = lines.at(i);
        if (line.isEmpty())
            continue;
        const double width = metrics.horizontalAdvance(line);
        const double x = PageLayout::marginLeft + (PageLayout::textWidth - width) / 2.0;
        painter.drawText(QPointF(x, PageLayout::baseline(top + i * lineHeight, lineHeight)), line);
    }
}

} // namespace

double lineWidth(const QString &line, int points)
{
    return QFontMetricsF(pageFont(points)).horizontalAdvance(line);
}

PageLayout::Geometry geometry(const Texts &texts)
{
    return PageLayout::compose(texts.title, texts.header, texts.footer, PageLayout::reportPixelWidth,
                               PageLayout::reportPixelHeight);
}

void draw(QPainter &painter, const QRect &paper, const Texts &texts, const ReportDrawer &drawReport)
{
    const PageLayout::Geometry page = geometry(texts);
    painter.save();
    painter.setViewport(paper);
    painter.setWindow(0, 0, PageLayout::pageWidth, PageLayout::pageHeight);
    painter.setPen(Qt::black);

    if (!texts.header.isEmpty())
        drawLines(painter, PageLayout::lines(texts.header), page.headerTop, PageLayout::headerFooterLine,
                  PageLayout::headerFooterPoints);
    drawLines(painter, PageLayout::lines(texts.title), page.titleTop, PageLayout::titleLine,
              PageLayout::titlePoints);
    if (!texts.footer.isEmpty())
        drawLines(painter, PageLayout::lines(texts.footer), page.footerTop, PageLayout::headerFooterLine,
                  PageLayout::headerFooterPoints);

    // The report gets the picture's box as its whole device area.
    const QRect pictureOnDevice = painter.combinedTransform().mapRect(QRectF(page.picture)).toAlignedRect();
    painter.save();
    painter.setViewport(pictureOnDevice);
    painter.setWindow(pictureOnDevice);
    drawReport(painter);
    painter.restore();
    painter.restore();
}

} // namespace PaintedPage
