#include "TestPng.h"

#include <QBuffer>
#include <QImage>
#include <QPainter>

namespace TestPng {

QByteArray make(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    painter.setPen(QPen(Qt::black, 4));
    painter.drawRect(2, 2, width - 5, height - 5);
    painter.fillRect(width / 4, height / 4, width / 2, height / 8, QColor(0, 90, 200));
    painter.end();
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

} // namespace TestPng
