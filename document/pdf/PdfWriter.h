#pragma once

#include <QByteArray>
#include <QString>

#include "PaintedPage.h"

// The report as a one-page A4 PDF: the painted page with its texts as searchable text (fonts
// embedded by Qt) and the result pictures as images.
namespace PdfWriter {

// The whole file; empty with *error set when the page could not be painted.
QByteArray build(const PaintedPage::Texts &texts, const PaintedPage::ReportDrawer &drawReport,
                 QString *error);

} // namespace PdfWriter
