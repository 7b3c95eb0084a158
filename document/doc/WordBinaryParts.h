#pragma once

#include <cstdint>

#include <QByteArray>
#include <QList>
#include <QString>

#include "ByteWriter.h"
#include "PageLayout.h"

// The pieces of a Word 97-2003 binary document, each emitted by one small function. The writer
// lays them out in the WordDocument, 1Table and Data streams and points the FIB at them.
namespace WordBinary {

// Font sizes in half-points.
constexpr std::uint16_t titleHalfPoints = 2 * PageLayout::titlePoints;
constexpr std::uint16_t headerFooterHalfPoints = 2 * PageLayout::headerFooterPoints;
constexpr std::uint16_t normalHalfPoints = 21;

// Character runs are kept as one of these kinds; the FKP turns each into its sprms.
enum class RunKind
{
    title,
    picture,
    headerFooter
};

struct CharacterRun
{
    std::uint32_t cpStart = 0;
    std::uint32_t cpEnd = 0;
    RunKind kind = RunKind::title;
};

// The whole text in character positions: main document, header document, final paragraph mark.
struct TextLayout
{
    QString text;
    std::uint32_t ccpText = 0;
    std::uint32_t ccpHdd = 0;
    QList<std::uint32_t> headerStoryCps; // the Plcfhdd, empty when there is no header document
    QList<CharacterRun> runs;
};

// Word text cannot hold raw control characters: line breaks become Word's line break (0x0B) so a
// multi-line text stays one paragraph; other controls would be read as fields, cells or pictures.
QString wordText(const QString &text);

TextLayout layoutText(const QString &title, const QString &header, const QString &footer);

// Formatted disk pages for text stored as UTF-16 from fcText; empty when the runs do not fit.
QByteArray chpxFkp(const TextLayout &layout, std::uint32_t fcText, std::uint32_t pictureLocation);
QByteArray papxFkp(const TextLayout &layout, std::uint32_t fcText);
// Bin table with one FKP covering [fcFirst, fcLast).
QByteArray binTable(std::uint32_t fcFirst, std::uint32_t fcLast, std::uint32_t pageNumber);

QByteArray stylesheet();
QByteArray fontTable();
QByteArray documentProperties();
QByteArray sectionProperties(const PageLayout::Geometry &page);
QByteArray sectionTable(std::uint32_t ccpText, std::uint32_t fcSepx);
QByteArray headerStoryTable(const TextLayout &layout);
QByteArray pieceTable(std::uint32_t characterCount, std::uint32_t fcText);

} // namespace WordBinary
