#include "WordBinaryWriter.h"

#include <algorithm>
#include <array>

#include "CompoundFile.h"
#include "PngHeader.h"
#include "WordBinaryParts.h"
#include "WordBinaryPicture.h"

using namespace WordBinary;

namespace {

constexpr std::uint16_t fibIdent = 0xA5EC;
constexpr std::uint16_t nFibWord97 = 0x00C1;
constexpr std::uint16_t nFibBackWord97 = 0x00BF;
constexpr std::uint16_t lidEnglish = 0x0409;
constexpr std::uint16_t lidChinese = 0x0804;
constexpr std::uint16_t fibHasPicture = 0x0008;
constexpr std::uint16_t fibTableStream1 = 0x0200;
constexpr std::uint16_t fibExtChar = 0x1000;
constexpr int fibWordCount = 14;
constexpr int fibLongCount = 22;
constexpr int fibPairCount = 93;
constexpr std::uint32_t fcText = 0x400; // the text starts on the page after the FIB
constexpr int pageBytes = 512;
// Readers such as antiword only take the document stream from regular sectors, never from the
// mini stream, and Word itself never writes it smaller.
constexpr qsizetype minimumDocumentStream = 4096;
// Character positions and file offsets are 32-bit; an export's texts are a few hundred characters.
constexpr qsizetype maxTextCharacters = qsizetype(1) << 24;

// Positions in FibRgFcLcb97 of the pairs this document fills.
enum FcLcb : int
{
    stshfOrig = 0,
    stshf = 1,
    plcfSed = 6,
    plcfHdd = 11,
    plcfBteChpx = 12,
    plcfBtePapx = 13,
    sttbfFfn = 15,
    dop = 31,
    clx = 33,
};

// Positions in FibRgLw97.
enum Long : int
{
    cbMac = 0,
    ccpText = 3,
    ccpHdd = 5,
    pnFbpChpFirst = 11,
    pnChpFirst = 12,
    cpnBteChp = 13,
    pnFbpPapFirst = 14,
    pnPapFirst = 15,
    cpnBtePap = 16,
};

struct Fib
{
    std::array<std::uint32_t, fibLongCount> longs{};
    std::array<std::uint32_t, 2 * fibPairCount> pairs{};
    std::uint32_t fcMin = 0;
    std::uint32_t fcMac = 0;
    bool hasPicture = false;

    void setPair(FcLcb index, std::uint32_t fc, std::uint32_t lcb)
    {
        pairs[size_t(2 * index)] = fc;
        pairs[size_t(2 * index + 1)] = lcb;
    }
};

QByteArray fibBytes(const Fib &fib)
{
    ByteWriter out;
    out.u16(fibIdent);
    out.u16(nFibWord97);
    out.u16(0);
    out.u16(lidEnglish);
    out.u16(0); // pnNext
    out.u16(std::uint16_t(fibTableStream1 | fibExtChar | (fib.hasPicture ? fibHasPicture : 0)));
    out.u16(nFibBackWord97);
    out.u32(0); // not encrypted
    out.u8(0);  // created on Windows
    out.u8(0);
    out.u16(0);
    out.u16(0);
    out.u32(fib.fcMin); // older readers look for the text here
    out.u32(fib.fcMac);
    out.u16(fibWordCount);
    for (int i = 0; i < fibWordCount; ++i)
        out.u16(i == fibWordCount - 1 ? lidChinese : 0); // lidFE last
    out.u16(fibLongCount);
    for (const std::uint32_t value : fib.longs)
        out.u32(value);
    out.u16(fibPairCount);
    for (const std::uint32_t value : fib.pairs)
        out.u32(value);
    out.u16(0); // no FibRgCswNew: a plain Word 97 file
    return out.bytes();
}

// Word's class id for its documents, in on-disk byte order.
QByteArray wordDocumentClassId()
{
    return QByteArray::fromHex("0609020000000000c000000000000046");
}

} // namespace

QByteArray WordBinaryWriter::build(const DocumentContent &content, QString *error)
{
    QString localError;
    QString &message = error ? *error : localError;
    const auto fail = [&message](const QString &text) {
        message = text;
        return QByteArray();
    };

    const PngHeader png = PngHeader::read(content.png);
    switch (png.status) {
    case PngHeader::Status::Valid:
        break;
    case PngHeader::Status::Truncated:
        return fail(QStringLiteral("picture is a truncated PNG image (%1 bytes)").arg(content.png.size()));
    case PngHeader::Status::NotPng:
        return fail(content.png.isEmpty() ? QStringLiteral("picture is empty")
                                          : QStringLiteral("picture is not a PNG image"));
    }
    const std::uint32_t pngWidth = png.width;
    const std::uint32_t pngHeight = png.height;
    if ((content.pixelWidth || content.pixelHeight) &&
        (content.pixelWidth != pngWidth || content.pixelHeight != pngHeight)) {
        return fail(QStringLiteral("picture size %1 x %2 does not match the PNG's %3 x %4")
                        .arg(content.pixelWidth)
                        .arg(content.pixelHeight)
                        .arg(pngWidth)
                        .arg(pngHeight));
    }

    const qsizetype textCharacters = content.title.size() + content.header.size() + content.footer.size();
    if (textCharacters > maxTextCharacters)
        return fail(
            QStringLiteral("title, header and footer are too long (%1 characters)").arg(textCharacters));

    const TextLayout layout = layoutText(content.title, content.header, content.footer);
    const auto characterCount = std::uint32_t(layout.text.size());
    const PageLayout::Geometry page =
        PageLayout::compose(content.title, content.header, content.footer, pngWidth, pngHeight);
    const PictureSize pictureSize{page.picture.width(), page.picture.height()};
    const QByteArray data = pictureData(content.png, pictureSize);
    constexpr std::uint32_t pictureLocation = 0; // the picture opens the Data stream

    // WordDocument: FIB, text, section properties, then the two formatted disk pages.
    Fib fib;
    fib.hasPicture = true;
    fib.fcMin = fcText;
    fib.fcMac = fcText + 2 * characterCount;
    ByteWriter document;
    document.zeros(fcText);
    document.utf16(layout.text);
    document.padTo(2);
    const auto fcSepx = std::uint32_t(document.size());
    document.raw(sectionProperties(page));
    document.padTo(pageBytes);
    const auto chpxPage = std::uint32_t(document.size() / pageBytes);
    const QByteArray chpx = chpxFkp(layout, fcText, pictureLocation);
    const auto papxPage = chpxPage + 1;
    const QByteArray papx = papxFkp(layout, fcText);
    if (chpx.isEmpty() || papx.isEmpty())
        return fail(QStringLiteral("text formatting does not fit its page"));
    document.raw(chpx);
    document.raw(papx);
    const auto meaningfulBytes = std::uint32_t(document.size());
    if (document.size() < minimumDocumentStream)
        document.zeros(minimumDocumentStream - document.size());

    // 1Table: stylesheet, section table, header stories, bin tables, fonts, DOP, piece table.
    ByteWriter table;
    const auto place = [&table, &fib](FcLcb index, const QByteArray &bytes) {
        fib.setPair(index, std::uint32_t(table.size()), std::uint32_t(bytes.size()));
        table.raw(bytes);
    };
    const QByteArray styles = stylesheet();
    fib.setPair(stshfOrig, 0, std::uint32_t(styles.size()));
    place(stshf, styles);
    place(plcfSed, sectionTable(layout.ccpText, fcSepx));
    if (layout.ccpHdd)
        place(plcfHdd, headerStoryTable(layout));
    place(plcfBteChpx, binTable(fib.fcMin, fib.fcMac, chpxPage));
    place(plcfBtePapx, binTable(fib.fcMin, fib.fcMac, papxPage));
    place(sttbfFfn, fontTable());
    place(dop, documentProperties());
    place(clx, pieceTable(characterCount, fcText));

    fib.longs[cbMac] = meaningfulBytes;
    fib.longs[ccpText] = layout.ccpText;
    fib.longs[ccpHdd] = layout.ccpHdd;
    fib.longs[pnFbpChpFirst] = chpxPage;
    fib.longs[pnChpFirst] = chpxPage;
    fib.longs[cpnBteChp] = 1;
    fib.longs[pnFbpPapFirst] = papxPage;
    fib.longs[pnPapFirst] = papxPage;
    fib.longs[cpnBtePap] = 1;
    QByteArray wordDocument = document.bytes();
    const QByteArray fibData = fibBytes(fib);
    Q_ASSERT(fibData.size() <= qsizetype(fcText));
    wordDocument.replace(0, fibData.size(), fibData);

    CompoundFile container;
    container.setRootClassId(wordDocumentClassId());
    if (!container.addStream(QStringLiteral("WordDocument"), wordDocument, &message) ||
        !container.addStream(QStringLiteral("1Table"), table.bytes(), &message) ||
        !container.addStream(QStringLiteral("Data"), data, &message)) {
        return QByteArray();
    }
    return container.build(&message);
}
