#include "ReportPage.h"

#include <algorithm>

#include <QFont>
#include <QFontMetrics>
#include <QPainter>
#include <QPen>
#include <QPixmap>

#include "Artwork.h"
#include "ReportText.h"

namespace ReportPage {

namespace {

constexpr int cellWidth = 397;
constexpr int headerRowHeight = 93;
constexpr int headerTop = 50;
constexpr int sectionsTop = 330;
constexpr int sectionRowHeight = 250;
constexpr int sectionsBottom = 1080;

// Font sizes are points at 96 dpi, fixed in page units, so that the page comes out the same on the
// 96-dpi picture and on a 1200-dpi printer whose painter maps the same logical page.
QFont pageUnitFont(const QString &family, int pointSize)
{
    QFont font(family);
    font.setPixelSize(qRound(pointSize * 96.0 / 72.0));
    return font;
}

QFont pageFont()
{
    return pageUnitFont(QStringLiteral("Arial"), 12);
}
QFont printFont()
{
    return pageUnitFont(QStringLiteral("Arial"), 16);
}
QFont sectionFont()
{
    return pageUnitFont(QStringLiteral("SimSun"), 12);
}

void preparePainter(QPainter &painter)
{
    painter.setFont(pageFont());
    painter.setPen(QPen(QBrush(Qt::black), 2.0, Qt::SolidLine, Qt::SquareCap, Qt::BevelJoin));
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setWindow(painterWindow);
}

// Each picture is loaded at each use; a missing file gives an empty picture and an empty box.
void drawHeaderItem(QPainter &painter, HeaderItem item, const QString &text, const QString &language)
{
    const QRect cell = headerCell(item);
    painter.save();
    painter.drawPixmap(headerPictureBox(cell), Artwork::picture(headerPicture(item), language));
    painter.drawText(headerTextBox(cell), Qt::AlignLeft | Qt::AlignVCenter, text);
    painter.restore();
}

void drawSectionBox(QPainter &painter, Section section, const TestRecord &record, const QString &language)
{
    const QRect cell = sectionCell(section);
    painter.save();
    painter.setFont(sectionFont());
    painter.drawPixmap(sectionPictureBox(cell),
                       Artwork::picture(ReportText::sectionPicture(record, section), language));
    painter.drawText(sectionTextBox(cell), Qt::AlignLeft,
                     ReportText::sectionText(record, section, ReportText::Form::Page));
    painter.restore();
}

// The font of a print header or footer, made smaller where the text would otherwise run off the
// page. A header grows upwards out of its 40-unit box into the top margin (not clipped, so a
// two-line header shows whole); a footer grows downwards.
constexpr int smallestPrintPixelSize = 8;

// Where a print header and a print footer may grow (see fittedPrintFont).
QRect printHeaderRoom()
{
    const QRect box = printHeaderBox();
    return QRect(QPoint(box.left(), painterWindow.top()), box.bottomRight());
}

QRect printFooterRoom()
{
    const QRect box = printFooterBox();
    return QRect(box.topLeft(), QPoint(box.right(), painterWindow.bottom()));
}

QFont fittedPrintFont(QPainter &painter, const QRect &room, int flags, const QString &text)
{
    constexpr int smallestPixelSize = smallestPrintPixelSize;
    QFont font = printFont();
    while (font.pixelSize() > smallestPixelSize) {
        painter.setFont(font);
        if (painter.boundingRect(room, flags, text).height() <= room.height())
            break;
        font.setPixelSize(font.pixelSize() - 1);
    }
    return font;
}

void drawPrintHeader(QPainter &painter, const QString &header)
{
    constexpr int flags = Qt::AlignHCenter | Qt::AlignBottom | Qt::TextDontClip;
    const QRect box = printHeaderBox();
    const QRect room = printHeaderRoom();
    painter.save();
    painter.setFont(fittedPrintFont(painter, room, flags, header));
    painter.drawText(box, flags, header);
    painter.drawLine(0, headerTop, pageSize.width(), headerTop);
    painter.restore();
}

void drawPrintFooter(QPainter &painter, const QString &footer)
{
    constexpr int flags = Qt::AlignHCenter | Qt::AlignTop | Qt::TextDontClip;
    const QRect box = printFooterBox();
    const QRect room = printFooterRoom();
    painter.save();
    painter.setFont(fittedPrintFont(painter, room, flags, footer));
    painter.drawText(box, flags, footer);
    painter.restore();
}

} // namespace

QRect headerCell(HeaderItem item)
{
    switch (item) {
    case HeaderItem::Date:
        return QRect(0, headerTop, cellWidth, headerRowHeight);
    case HeaderItem::Customer:
        return QRect(0, headerTop + headerRowHeight, cellWidth, headerRowHeight);
    case HeaderItem::BatteryModel:
        return QRect(0, headerTop + 2 * headerRowHeight, cellWidth, headerRowHeight);
    case HeaderItem::RegistrationNo:
        return QRect(cellWidth, headerTop + headerRowHeight, cellWidth, headerRowHeight);
    case HeaderItem::Capacity:
        return QRect(cellWidth, headerTop + 2 * headerRowHeight, cellWidth, headerRowHeight);
    }
    return QRect();
}

QString headerPicture(HeaderItem item)
{
    switch (item) {
    case HeaderItem::Date:
        return QStringLiteral("Date.png");
    case HeaderItem::Customer:
        return QStringLiteral("Customer.png");
    case HeaderItem::BatteryModel:
        return QStringLiteral("BatteryModel.png");
    case HeaderItem::RegistrationNo:
        return QStringLiteral("RegistrationNo.png");
    case HeaderItem::Capacity:
        return QStringLiteral("Capacity.png");
    }
    return QString();
}

QRect sectionCell(Section section)
{
    // The page keeps the battery, starter and grounding on the left and the three voltage tests on
    // the right; the window arranges them differently.
    int column = 0;
    int row = 0;
    switch (section) {
    case Section::Battery:
        break;
    case Section::Starter:
        row = 1;
        break;
    case Section::Grounding:
        row = 2;
        break;
    case Section::Charging3K:
        column = 1;
        break;
    case Section::Charging2K:
        column = 1;
        row = 1;
        break;
    case Section::Avg2K:
        column = 1;
        row = 2;
        break;
    }
    return QRect(column * cellWidth, sectionsTop + row * sectionRowHeight, cellWidth, sectionRowHeight);
}

QRect headerPictureBox(const QRect &cell)
{
    QRect box = cell.adjusted(16, 16, -16, -16);
    box.setWidth(box.height() * 80 / 48);
    return box;
}

QRect headerTextBox(const QRect &cell)
{
    QRect box = cell.adjusted(16, 16, -16, -16);
    box.setLeft(box.left() + box.height() * 80 / 48 + 20);
    return box;
}

QRect sectionPictureBox(const QRect &cell)
{
    QRect box = cell.adjusted(16, 10, -16, -10).adjusted(60, 10, -60, 0);
    box.setHeight(box.width() * 56 / 160);
    return box;
}

QRect sectionTextBox(const QRect &cell)
{
    QRect box = cell.adjusted(16, 10, -16, -10);
    box.setTop(box.top() + 110);
    return box;
}

QRect printHeaderBox()
{
    return QRect(0, 0, pageSize.width(), 40);
}

QRect printFooterBox()
{
    // Reaches below the logical page; with top alignment only its top edge matters.
    return QRect(0, sectionsBottom, pageSize.width(), 1117).adjusted(0, 10, 0, 0);
}

void draw(QPainter &painter, const Content &content)
{
    preparePainter(painter);
    if (content.printing)
        drawPrintHeader(painter, content.printHeader);

    painter.save();
    drawHeaderItem(painter, HeaderItem::Date, content.date, content.language);
    drawHeaderItem(painter, HeaderItem::Customer, content.customer, content.language);
    drawHeaderItem(painter, HeaderItem::BatteryModel, content.batteryModel, content.language);
    drawHeaderItem(painter, HeaderItem::RegistrationNo, content.registrationNo, content.language);
    drawHeaderItem(painter, HeaderItem::Capacity, content.capacity, content.language);
    painter.drawLine(0, sectionsTop, pageSize.width(), sectionsTop);
    painter.restore();

    painter.save();
    for (Section section : {Section::Battery, Section::Starter, Section::Grounding, Section::Charging3K,
                            Section::Charging2K, Section::Avg2K})
        drawSectionBox(painter, section, content.record, content.language);
    painter.drawLine(0, sectionsBottom, pageSize.width(), sectionsBottom);
    painter.restore();

    if (content.printing)
        drawPrintFooter(painter, content.printFooter);
}

} // namespace ReportPage
