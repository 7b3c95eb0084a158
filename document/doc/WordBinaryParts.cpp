#include "WordBinaryParts.h"

#include <algorithm>
#include <cstring>

namespace WordBinary {

namespace {

// Single property modifiers (sprm opcodes) used here.
constexpr std::uint16_t sprmCIco = 0x2A42;
constexpr std::uint16_t sprmCHps = 0x4A43;
constexpr std::uint16_t sprmCHpsBi = 0x4A61;
constexpr std::uint16_t sprmCRgFtc0 = 0x4A4F;
constexpr std::uint16_t sprmCRgFtc1 = 0x4A50;
constexpr std::uint16_t sprmCRgFtc2 = 0x4A51;
constexpr std::uint16_t sprmCPicLocation = 0x6A03;
constexpr std::uint16_t sprmCFSpec = 0x0855;
constexpr std::uint16_t sprmPJc80 = 0x2403;
constexpr std::uint16_t sprmPDyaLine = 0x6412;
constexpr std::uint16_t sprmSBkc = 0x3009;
constexpr std::uint16_t sprmSXaPage = 0xB01F;
constexpr std::uint16_t sprmSYaPage = 0xB020;
constexpr std::uint16_t sprmSDxaLeft = 0xB021;
constexpr std::uint16_t sprmSDxaRight = 0xB022;
constexpr std::uint16_t sprmSDyaTop = 0x9023;
constexpr std::uint16_t sprmSDyaBottom = 0x9024;
constexpr std::uint16_t sprmSDyaHdrTop = 0xB017;
constexpr std::uint16_t sprmSDyaHdrBottom = 0xB018;

constexpr std::uint8_t icoBlack = 1;
constexpr std::uint8_t justifyCentre = 1;
constexpr std::uint8_t breakNewPage = 2;

constexpr int fkpSize = 512;
constexpr int headerStoriesPerSection = 6;
constexpr int separatorStories = 6;

void sprm8(ByteWriter &out, std::uint16_t opcode, std::uint8_t value)
{
    out.u16(opcode);
    out.u8(value);
}

void sprm16(ByteWriter &out, std::uint16_t opcode, std::uint16_t value)
{
    out.u16(opcode);
    out.u16(value);
}

QByteArray characterSprms(RunKind kind, std::uint32_t pictureLocation)
{
    ByteWriter out;
    const std::uint16_t size = kind == RunKind::headerFooter ? headerFooterHalfPoints : titleHalfPoints;
    if (kind == RunKind::picture) {
        out.u16(sprmCPicLocation);
        out.u32(pictureLocation);
        sprm8(out, sprmCFSpec, 1);
    }
    sprm16(out, sprmCHps, size);
    sprm16(out, sprmCHpsBi, size);
    sprm8(out, sprmCIco, icoBlack);
    return out.bytes();
}

// Word reads an odd-length name with a terminating NUL: Xstz is a count, the text and a zero.
void xstz(ByteWriter &out, const QString &text)
{
    out.u16(std::uint16_t(text.size()));
    out.utf16(text);
    out.u16(0);
}

// One STD: the 10-byte base (Word 97 layout), its name, then its property exceptions.
QByteArray styleDefinition(std::uint16_t sti, std::uint16_t kind, std::uint16_t istdNext,
                           const QList<QByteArray> &upx)
{
    ByteWriter std;
    std.u16(sti & 0x0FFF);
    std.u16(std::uint16_t((kind & 0x000F) | (0x0FFF << 4))); // stk, istdBase = none
    std.u16(std::uint16_t((upx.size() & 0x000F) | (istdNext << 4)));
    std.u16(0); // bchUpe
    std.u16(0); // grfstd
    xstz(std, sti == 0 ? QStringLiteral("Normal") : QStringLiteral("Default Paragraph Font"));
    for (const QByteArray &part : upx) {
        std.padTo(2);
        std.u16(std::uint16_t(part.size()));
        std.raw(part);
    }
    std.padTo(2);
    return std.bytes();
}

void ffn(ByteWriter &out, const QString &name, std::uint8_t family, std::uint8_t charset)
{
    constexpr std::uint8_t variablePitch = 0x02;
    constexpr std::uint8_t trueType = 0x04;
    ByteWriter font;
    font.u8(std::uint8_t(variablePitch | trueType | (family << 4)));
    font.u16(400); // normal weight
    font.u8(charset);
    font.u8(0);     // no alternate name
    font.zeros(10); // panose
    font.zeros(24); // font signature
    font.utf16(name);
    font.u16(0);
    out.u8(std::uint8_t(font.size()));
    out.raw(font.bytes());
}

} // namespace

QString wordText(const QString &text)
{
    constexpr char16_t lineBreak = 0x000B;
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text.at(i).unicode();
        if (c == u'\r') {
            if (i + 1 < text.size() && text.at(i + 1) == u'\n')
                ++i;
            out.append(QChar(lineBreak));
        } else if (c == u'\n') {
            out.append(QChar(lineBreak));
        } else if (c < 0x20 && c != u'\t') {
            out.append(u' ');
        } else {
            out.append(QChar(c));
        }
    }
    return out;
}

TextLayout layoutText(const QString &title, const QString &header, const QString &footer)
{
    const QString titleText = wordText(title);
    const QString headerText = wordText(header);
    const QString footerText = wordText(footer);

    TextLayout layout;
    // Main document: the title paragraph, then the paragraph holding the picture character.
    layout.text = titleText + u'\r' + QChar(0x0001) + u'\r';
    const auto titleEnd = std::uint32_t(titleText.size() + 1);
    layout.ccpText = titleEnd + 2;
    layout.runs.append({0, titleEnd, RunKind::title});
    layout.runs.append({titleEnd, titleEnd + 1, RunKind::picture});
    layout.runs.append({titleEnd + 1, layout.ccpText, RunKind::title});
    if (headerText.isEmpty() && footerText.isEmpty())
        return layout;

    // Header document: six empty separator stories, then the section's stories in the order
    // even header, odd header, even footer, odd footer, first header, first footer. A non-empty
    // story ends with its guard paragraph mark; the header document ends with one more mark.
    QString stories;
    QList<std::uint32_t> cps(separatorStories + 2, 0); // separators, even header, odd header
    if (!headerText.isEmpty())
        stories += headerText + u'\r';
    cps << std::uint32_t(stories.size()) << std::uint32_t(stories.size()); // even, odd footer
    if (!footerText.isEmpty())
        stories += footerText + u'\r';
    cps << std::uint32_t(stories.size()) << std::uint32_t(stories.size()); // first header, footer
    Q_ASSERT(cps.size() == separatorStories + headerStoriesPerSection);
    stories += u'\r';
    layout.ccpHdd = std::uint32_t(stories.size());
    cps << layout.ccpHdd - 1 << layout.ccpHdd;
    layout.headerStoryCps = cps;
    // With any sub-document present the text ends with one more paragraph mark.
    layout.text += stories + u'\r';
    layout.runs.append({layout.ccpText, std::uint32_t(layout.text.size()), RunKind::headerFooter});
    return layout;
}

QByteArray chpxFkp(const TextLayout &layout, std::uint32_t fcText, std::uint32_t pictureLocation)
{
    const qsizetype count = layout.runs.size();
    QByteArray page(fkpSize, '\0');
    ByteWriter fcs;
    for (const CharacterRun &run : layout.runs)
        fcs.u32(fcText + 2 * run.cpStart);
    fcs.u32(fcText + 2 * layout.runs.last().cpEnd);
    const qsizetype tableEnd = fcs.size() + count;
    std::memcpy(page.data(), fcs.bytes().constData(), size_t(fcs.size()));
    qsizetype freeEnd = fkpSize - 1; // the last byte holds the run count
    for (qsizetype i = 0; i < count; ++i) {
        const QByteArray sprms = characterSprms(layout.runs.at(i).kind, pictureLocation);
        const qsizetype start = (freeEnd - 1 - sprms.size()) & ~qsizetype(1);
        if (start < tableEnd)
            return QByteArray();
        page[start] = char(sprms.size());
        std::memcpy(page.data() + start + 1, sprms.constData(), size_t(sprms.size()));
        page[fcs.size() + i] = char(start / 2);
        freeEnd = start;
    }
    page[fkpSize - 1] = char(count);
    return page;
}

QByteArray papxFkp(const TextLayout &layout, std::uint32_t fcText)
{
    // Every paragraph is centred. The title paragraph (the first) and the header and footer
    // paragraphs (after the picture's) have lines of the layout's exact height; the picture's
    // paragraph is as tall as the picture.
    QList<std::uint32_t> ends;
    for (qsizetype i = 0; i < layout.text.size(); ++i) {
        if (layout.text.at(i) == u'\r')
            ends << std::uint32_t(i + 1);
    }
    const qsizetype count = ends.size();
    constexpr qsizetype bxSize = 13; // offset byte + 12-byte paragraph height record
    QByteArray page(fkpSize, '\0');
    ByteWriter table;
    table.u32(fcText);
    for (const std::uint32_t end : ends)
        table.u32(fcText + 2 * end);
    const qsizetype bxStart = table.size();
    const qsizetype tableEnd = bxStart + count * bxSize;
    if (tableEnd >= fkpSize)
        return QByteArray();
    std::memcpy(page.data(), table.bytes().constData(), size_t(table.size()));

    const auto storedPapx = [](int exactLine) {
        ByteWriter papx; // GrpPrlAndIstd: style 0 (Normal), centred, the line height
        papx.u16(0);
        sprm8(papx, sprmPJc80, justifyCentre);
        if (exactLine > 0) {
            papx.u16(sprmPDyaLine);
            papx.u16(std::uint16_t(-exactLine)); // negative: exactly this height
            papx.u16(0);                         // not a multiple of single lines
        }
        const qsizetype length = papx.size();
        ByteWriter entry;
        if (length % 2) {
            entry.u8(std::uint8_t((length + 1) / 2));
        } else {
            entry.u8(0);
            entry.u8(std::uint8_t(length / 2));
        }
        entry.raw(papx.bytes());
        return entry.bytes();
    };
    const QByteArray kinds[] = {storedPapx(PageLayout::titleLine), storedPapx(0),
                                storedPapx(PageLayout::headerFooterLine)};
    qsizetype freeEnd = fkpSize - 1; // the last byte holds the paragraph count
    qsizetype offsets[3] = {};
    for (int kind = 0; kind < 3; ++kind) {
        const qsizetype start = (freeEnd - kinds[kind].size()) & ~qsizetype(1);
        if (start < tableEnd)
            return QByteArray();
        std::memcpy(page.data() + start, kinds[kind].constData(), size_t(kinds[kind].size()));
        offsets[kind] = start;
        freeEnd = start;
    }
    // Paragraphs of one kind share their stored PAPX.
    for (qsizetype i = 0; i < count; ++i)
        page[bxStart + i * bxSize] = char(offsets[std::min<qsizetype>(i, 2)] / 2);
    page[fkpSize - 1] = char(count);
    return page;
}

QByteArray binTable(std::uint32_t fcFirst, std::uint32_t fcLast, std::uint32_t pageNumber)
{
    ByteWriter out;
    out.u32(fcFirst);
    out.u32(fcLast);
    out.u32(pageNumber);
    return out.bytes();
}

QByteArray stylesheet()
{
    constexpr std::uint16_t paragraphStyle = 1;
    constexpr std::uint16_t characterStyle = 2;
    constexpr std::uint16_t stiNormal = 0;
    constexpr std::uint16_t stiDefaultParagraphFont = 65;
    constexpr std::uint16_t istdDefaultParagraphFont = 10;
    constexpr std::uint16_t styleCount = 15; // the fixed built-in slots

    ByteWriter normalPapx;
    normalPapx.u16(0); // istd
    ByteWriter normalChpx;
    sprm16(normalChpx, sprmCRgFtc0, 2); // Arial, the layout's family
    sprm16(normalChpx, sprmCRgFtc1, 1); // SimSun for East Asian text
    sprm16(normalChpx, sprmCRgFtc2, 2);
    sprm16(normalChpx, sprmCHps, normalHalfPoints);

    ByteWriter out;
    out.u16(18); // cbStshi: the Word 97 STSHI
    out.u16(styleCount);
    out.u16(10);   // cbSTDBaseInFile
    out.u16(1);    // fStdStylenamesWritten
    out.u16(0x5B); // stiMaxWhenSaved
    out.u16(styleCount);
    out.u16(0); // nVerBuiltInNamesWhenSaved
    out.u16(0); // default fonts: ASCII, East Asian, other
    out.u16(1);
    out.u16(0);
    for (std::uint16_t istd = 0; istd < styleCount; ++istd) {
        QByteArray std;
        if (istd == 0)
            std = styleDefinition(stiNormal, paragraphStyle, 0, {normalPapx.bytes(), normalChpx.bytes()});
        else if (istd == istdDefaultParagraphFont)
            std = styleDefinition(stiDefaultParagraphFont, characterStyle, istdDefaultParagraphFont,
                                  {QByteArray()});
        out.u16(std::uint16_t(std.size()));
        out.raw(std);
    }
    return out.bytes();
}

QByteArray fontTable()
{
    constexpr std::uint8_t roman = 1;
    constexpr std::uint8_t swiss = 2;
    constexpr std::uint8_t ansiCharset = 0;
    constexpr std::uint8_t gb2312Charset = 134;
    ByteWriter out;
    out.u16(3);
    out.u16(0);
    ffn(out, QStringLiteral("Times New Roman"), roman, ansiCharset);
    ffn(out, QStringLiteral("SimSun"), 0, gb2312Charset);
    ffn(out, QStringLiteral("Arial"), swiss, ansiCharset);
    return out.bytes();
}

QByteArray documentProperties()
{
    constexpr qsizetype dop97Size = 500;
    ByteWriter out;
    out.zeros(dop97Size);
    out.setU16(0, 0x0020); // footnotes at the bottom of the page
    out.setU16(2, 1 << 2); // footnote numbers start at 1
    out.setU16(10, 420);   // default tab stop: two East Asian characters
    out.setU16(14, 360);   // hyphenation hot zone
    return out.bytes();
}

QByteArray sectionProperties(const PageLayout::Geometry &page)
{
    ByteWriter grpprl;
    sprm8(grpprl, sprmSBkc, breakNewPage);
    sprm16(grpprl, sprmSXaPage, PageLayout::pageWidth);
    sprm16(grpprl, sprmSYaPage, PageLayout::pageHeight);
    sprm16(grpprl, sprmSDxaLeft, PageLayout::marginLeft);
    sprm16(grpprl, sprmSDxaRight, PageLayout::marginRight);
    sprm16(grpprl, sprmSDyaTop, std::uint16_t(page.marginTop));
    sprm16(grpprl, sprmSDyaBottom, std::uint16_t(page.marginBottom));
    sprm16(grpprl, sprmSDyaHdrTop, PageLayout::headerDistance);
    sprm16(grpprl, sprmSDyaHdrBottom, PageLayout::footerDistance);
    ByteWriter out;
    out.u16(std::uint16_t(grpprl.size()));
    out.raw(grpprl.bytes());
    return out.bytes();
}

QByteArray sectionTable(std::uint32_t ccpText, std::uint32_t fcSepx)
{
    ByteWriter out;
    out.u32(0);
    out.u32(ccpText);
    out.u16(0);
    out.u32(fcSepx);
    out.u16(0);
    out.u32(0xFFFFFFFF);
    return out.bytes();
}

QByteArray headerStoryTable(const TextLayout &layout)
{
    ByteWriter out;
    for (const std::uint32_t cp : layout.headerStoryCps)
        out.u32(cp);
    return out.bytes();
}

QByteArray pieceTable(std::uint32_t characterCount, std::uint32_t fcText)
{
    ByteWriter plcPcd;
    plcPcd.u32(0);
    plcPcd.u32(characterCount);
    plcPcd.u16(0);      // piece flags
    plcPcd.u32(fcText); // UTF-16 text: the compressed bit stays clear
    plcPcd.u16(0);      // no property modifier
    ByteWriter out;
    out.u8(0x02); // Pcdt
    out.u32(std::uint32_t(plcPcd.size()));
    out.raw(plcPcd.bytes());
    return out.bytes();
}

} // namespace WordBinary
