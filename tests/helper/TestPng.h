#pragma once

#include <QByteArray>

// PNG pictures for the helper tests, drawn with QtGui (quillet itself never links it).
namespace TestPng {

// A width x height picture with a frame and a filled block, so that a page rendering shows it.
QByteArray make(int width, int height);

} // namespace TestPng
