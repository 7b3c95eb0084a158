#pragma once

#include <functional>

#include <QString>

#include "PageLayout.h"

class QPainter;
class QRect;

// The document page drawn with a painter, for the PDF and for the printer: header lines, title
// lines, the report and footer lines where the page layout puts them, the same places the .doc
// and .docx writers ask the word processor for.
namespace PaintedPage {

struct Texts
{
    QString title;
    QString header;
    QString footer;
};

// Draws the report into the painter's whole viewport (it sets the painter's window itself).
using ReportDrawer = std::function<void(QPainter &painter)>;

// Width of one line of text set in the page font at the given size, in twips: what the page
// needs for it. A line is kept whole by every output when this is at most PageLayout::maxLineWidth.
double lineWidth(const QString &line, int points);

// The layout of a page holding these texts and the 794 x 1123 report.
PageLayout::Geometry geometry(const Texts &texts);

// Paints the page onto `paper`, a rectangle of device coordinates that stands for the whole A4
// sheet. Text stays text (a PDF keeps it searchable) and is set in the layout's family.
void draw(QPainter &painter, const QRect &paper, const Texts &texts, const ReportDrawer &drawReport);

} // namespace PaintedPage
