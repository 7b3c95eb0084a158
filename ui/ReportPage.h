#pragma once

#include <QRect>
#include <QSize>
#include <QString>

#include "TestRecord.h"

class QPainter;

// The report as one page: a 794 x 1123 picture drawn from the test record and the header texts
// the window shows. Printing adds the document header and footer; the saved picture has neither.
namespace ReportPage {

inline constexpr QSize pageSize{794, 1123};
// The logical page is drawn with a margin of 30 at the sides and 15 at the top and bottom.
inline constexpr QRect painterWindow{-30, -15, 854, 1153};

struct Content
{
    QString date;
    QString customer;
    QString batteryModel;
    QString registrationNo;
    QString capacity;
    TestRecord record;
    QString language = QStringLiteral("en"); // of the pictures' captions (see Artwork)
    bool printing = false;                   // draws the print header and footer
    QString printHeader;
    QString printFooter;
};

enum class HeaderItem
{
    Date,
    Customer,
    BatteryModel,
    RegistrationNo,
    Capacity
};

QRect headerCell(HeaderItem item);
QString headerPicture(HeaderItem item);
QRect sectionCell(Section section);

// Boxes inside a cell, in logical page units.
QRect headerPictureBox(const QRect &cell);
QRect headerTextBox(const QRect &cell);
QRect sectionPictureBox(const QRect &cell);
QRect sectionTextBox(const QRect &cell);

QRect printHeaderBox();
QRect printFooterBox();

// Paints the page over the whole device of an open painter (sets its window, pen and fonts).
void draw(QPainter &painter, const Content &content);

} // namespace ReportPage
