#include "PdfWriter.h"

#include <QBuffer>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>

namespace PdfWriter {

QByteArray build(const PaintedPage::Texts &texts, const PaintedPage::ReportDrawer &drawReport, QString *error)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    {
        QPdfWriter writer(&buffer);
        writer.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait, QMarginsF()));
        writer.setTitle(PageLayout::lines(texts.title).join(QLatin1Char(' ')));
        writer.setCreator(QStringLiteral("Kestrel"));
        QPainter painter;
        if (!painter.begin(&writer)) {
            if (error)
                *error = QStringLiteral("the PDF page could not be opened");
            return {};
        }
        PaintedPage::draw(painter, QRect(QPoint(0, 0), QSize(writer.width(), writer.height())), texts,
                          drawReport);
        painter.end();
    }
    if (bytes.isEmpty() && error)
        *error = QStringLiteral("the PDF page came out empty");
    return bytes;
}

} // namespace PdfWriter
