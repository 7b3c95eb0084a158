// The document writers on arbitrary title, page header and page footer bytes: every result must
// be a package the container and XML checks accept.
//
// Input: byte 0 picks the writer (even: .docx, odd: .doc); the rest is title, header and footer
// separated by zero bytes, decoded as the helper decodes the fields kestrel sends.
#include <cstdint>
#include <cstring>

#include <QByteArray>
#include <QList>
#include <QSet>
#include <QXmlStreamReader>
#include <QtEndian>

#include "Codec.h"
#include "DocxWriter.h"
#include "FuzzSupport.h"
#include "WordBinaryWriter.h"
#include "ZipEntries.h"

namespace {

// A two-by-one PNG, enough for both writers to embed.
const QByteArray picture = QByteArrayLiteral(
    "\x89\x50\x4e\x47\x0d\x0a\x1a\x0a\x00\x00\x00\x0d\x49\x48\x44\x52\x00\x00\x00\x02\x00\x00\x00\x01\x08\x02\x00"
    "\x00\x00\x7b\x40\xe8\xdd\x00\x00\x00\x0d\x49\x44\x41\x54\x78\x9c\x63\xf8\xcf\x00\x04\xff\x01\x07\x00\x01\xff"
    "\xe2\x23\x9e\x59\x00\x00\x00\x00\x49\x45\x4e\x44\xae\x42\x60\x82");

bool wellFormed(const QByteArray &xml)
{
    QXmlStreamReader reader(xml);
    while (!reader.atEnd())
        reader.readNext();
    return !reader.hasError();
}

// Text of the w:t elements of a part, in order.
QString partText(const QByteArray &xml)
{
    QString text;
    QXmlStreamReader reader(xml);
    while (!reader.atEnd()) {
        if (reader.readNext() == QXmlStreamReader::StartElement && reader.name() == u"t")
            text += reader.readElementText();
    }
    return text;
}

bool plainWord(const QString &text)
{
    if (text.isEmpty())
        return false;
    for (QChar ch : text) {
        if (!((ch >= u'a' && ch <= u'z') || (ch >= u'A' && ch <= u'Z') || (ch >= u'0' && ch <= u'9')))
            return false;
    }
    return true;
}

void checkDocx(const DocumentContent &content)
{
    QString error;
    const QByteArray file = DocxWriter::build(content, QDateTime(QDate(2024, 1, 2), QTime(3, 4, 5), Qt::UTC), &error);
    FUZZ_CHECK(!file.isEmpty());
    const QMap<QString, QByteArray> entries = zipEntries(file);
    FUZZ_CHECK(entries.contains(QStringLiteral("[Content_Types].xml")));
    FUZZ_CHECK(entries.contains(QStringLiteral("_rels/.rels")));
    FUZZ_CHECK(entries.contains(QStringLiteral("word/document.xml")));
    for (auto it = entries.cbegin(); it != entries.cend(); ++it) {
        if (it.key().endsWith(u".xml") || it.key().endsWith(u".rels")) {
            if (!wellFormed(it.value())) {
                std::fprintf(stderr, "not well-formed: %s\n", qPrintable(it.key()));
                FUZZ_CHECK(!"every XML part is well-formed");
            }
        }
    }
    if (plainWord(content.title))
        FUZZ_CHECK(partText(entries.value(QStringLiteral("word/document.xml"))).contains(content.title));
}

// The compound file around a .doc: header, FAT chains that stay inside the file, and the
// directory naming the streams a word processor opens.
void checkDoc(const DocumentContent &content)
{
    QString error;
    const QByteArray file = WordBinaryWriter::build(content, &error);
    FUZZ_CHECK(!file.isEmpty());
    FUZZ_CHECK(file.size() >= 1024 && file.size() % 512 == 0);
    FUZZ_CHECK(file.startsWith(QByteArrayLiteral("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1")));
    const auto u16 = [&file](qsizetype at) { return qFromLittleEndian<std::uint16_t>(file.constData() + at); };
    const auto u32 = [&file](qsizetype at) { return qFromLittleEndian<std::uint32_t>(file.constData() + at); };
    FUZZ_CHECK(u16(28) == 0xFFFE && u16(30) == 9 && u16(32) == 6);
    const std::uint32_t sectors = static_cast<std::uint32_t>(file.size() / 512 - 1);
    const std::uint32_t fatSectors = u32(44);
    FUZZ_CHECK(fatSectors >= 1 && fatSectors <= 109);
    QList<std::uint32_t> fat;
    for (std::uint32_t i = 0; i < fatSectors; ++i) {
        const std::uint32_t sector = u32(76 + 4 * i);
        FUZZ_CHECK(sector < sectors);
        for (int j = 0; j < 128; ++j)
            fat.append(u32(512 + qsizetype(sector) * 512 + 4 * j));
    }
    const auto chain = [&](std::uint32_t start) {
        QByteArray bytes;
        QSet<std::uint32_t> seen;
        for (std::uint32_t sector = start; sector != 0xFFFFFFFEu;) {
            FUZZ_CHECK(sector < sectors && sector < static_cast<std::uint32_t>(fat.size()));
            FUZZ_CHECK(!seen.contains(sector));
            seen.insert(sector);
            bytes += file.mid(512 + qsizetype(sector) * 512, 512);
            sector = fat[sector];
        }
        return bytes;
    };
    const QByteArray directory = chain(u32(48));
    FUZZ_CHECK(!directory.isEmpty());
    QSet<QString> names;
    for (qsizetype at = 0; at + 128 <= directory.size(); at += 128) {
        const std::uint16_t nameBytes = qFromLittleEndian<std::uint16_t>(directory.constData() + at + 64);
        const auto type = static_cast<unsigned char>(directory[at + 66]);
        if (type == 0)
            continue;
        FUZZ_CHECK(nameBytes >= 2 && nameBytes <= 64 && nameBytes % 2 == 0);
        const QString name = QString::fromUtf16(reinterpret_cast<const char16_t *>(directory.constData() + at),
                                                nameBytes / 2 - 1);
        names.insert(name);
        const std::uint32_t start = qFromLittleEndian<std::uint32_t>(directory.constData() + at + 116);
        const std::uint32_t size = qFromLittleEndian<std::uint32_t>(directory.constData() + at + 120);
        // Large streams live in the FAT; their chain must hold them.
        if (type == 2 && size >= 4096)
            FUZZ_CHECK(chain(start).size() >= size);
        if (type == 5 && size > 0)
            FUZZ_CHECK(chain(start).size() >= size);
    }
    FUZZ_CHECK(names.contains(QStringLiteral("Root Entry")));
    FUZZ_CHECK(names.contains(QStringLiteral("WordDocument")));
    FUZZ_CHECK(names.contains(QStringLiteral("1Table")) || names.contains(QStringLiteral("0Table")));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    FuzzSupport::ensureApplication();
    if (size == 0)
        return 0;
    const QList<QByteArray> parts =
        QByteArray(reinterpret_cast<const char *>(data + 1), static_cast<qsizetype>(size - 1)).split('\0');
    DocumentContent content;
    // The fields kestrel sends hold at most 199 and 1023 bytes.
    content.title = Codec::toText(parts.value(0).left(199));
    content.header = Codec::toText(parts.value(1).left(1023));
    content.footer = Codec::toText(parts.value(2).left(1023));
    content.png = picture;
    content.pixelWidth = 2;
    content.pixelHeight = 1;
    if (data[0] & 1)
        checkDoc(content);
    else
        checkDocx(content);
    return 0;
}
