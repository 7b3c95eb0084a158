#pragma once

#include <cstdint>
#include <vector>

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>
#include <QStringView>

#include "PageLayout.h"

// One emitter per part of a WordprocessingML package. Each returns the part's complete XML
// (UTF-8, with declaration). Texts may be anything the operator typed: they are split into lines
// and stripped of what XML 1.0 cannot carry.
namespace DocxParts {

// Sizes of the picture on the page, in EMU (914400 per inch).
struct PictureExtent
{
    std::int64_t width = 0;
    std::int64_t height = 0;
};

// The picture's size in the page layout, in EMU.
PictureExtent extentOf(const PageLayout::Geometry &page);

// The text with every character removed that XML 1.0 cannot hold (controls other than tab and line
// ends, lone surrogates, U+FFFE, U+FFFF).
QString xmlSafe(QStringView text);

struct ContentType
{
    QString key; // extension for defaults, part name for overrides
    QString contentType;
};
struct Relationship
{
    QString id;
    QString type;
    QString target;
};

struct DocumentReferences
{
    QString headerId;
    QString footerId;
    QString pictureId;
};

QByteArray contentTypes(const std::vector<ContentType> &defaults, const std::vector<ContentType> &overrides);
QByteArray relationships(const std::vector<Relationship> &relationships);
// Body: the title lines centred, then a centred paragraph with the picture inline; the section
// carries the page size and the margins of the layout.
QByteArray document(QStringView title, const DocumentReferences &references,
                    const PageLayout::Geometry &page);
// Page header / footer: each line of the text a centred paragraph of the layout's size and height.
QByteArray header(QStringView text);
QByteArray footer(QStringView text);
QByteArray styles();
QByteArray coreProperties(QStringView title, const QDateTime &createdUtc);
QByteArray appProperties();

// Sizes used above, in half points.
constexpr int titleHalfPoints = 2 * PageLayout::titlePoints;
constexpr int headerFooterHalfPoints = 2 * PageLayout::headerFooterPoints;

} // namespace DocxParts
