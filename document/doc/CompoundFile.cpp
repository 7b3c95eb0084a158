#include "CompoundFile.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "ByteWriter.h"

namespace {

constexpr std::uint32_t difatSector = 0xFFFFFFFC;
constexpr std::uint32_t fatSector = 0xFFFFFFFD;
constexpr std::uint32_t endOfChain = 0xFFFFFFFE;
constexpr std::uint32_t freeSector = 0xFFFFFFFF;
constexpr std::uint32_t noStream = 0xFFFFFFFF;
constexpr std::uint32_t maxRegularSector = 0xFFFFFFFA;

constexpr int headerDifatEntries = 109;
constexpr int entriesPerSector = CompoundFile::sectorSize / 4;
constexpr int difatEntriesPerSector = entriesPerSector - 1; // the last entry links the next DIFAT sector
constexpr int directoryEntrySize = 128;
constexpr qint64 maxStreamSize = 0x7FFFFFFF;

enum ObjectType : std::uint8_t
{
    storageObject = 1,
    streamObject = 2,
    rootObject = 5
};
enum Colour : std::uint8_t
{
    red = 0,
    black = 1
};

qint64 sectorsFor(qint64 bytes, qint64 unit)
{
    return (bytes + unit - 1) / unit;
}

// Directory siblings are ordered by name length first, then by the upper-cased UTF-16 code units.
bool nameLess(const QString &a, const QString &b)
{
    if (a.size() != b.size())
        return a.size() < b.size();
    for (qsizetype i = 0; i < a.size(); ++i) {
        const char16_t ca = a.at(i).toUpper().unicode();
        const char16_t cb = b.at(i).toUpper().unicode();
        if (ca != cb)
            return ca < cb;
    }
    return false;
}

bool sameName(const QString &a, const QString &b)
{
    return !nameLess(a, b) && !nameLess(b, a);
}

struct TreeNode
{
    std::uint32_t left = noStream;
    std::uint32_t right = noStream;
    Colour colour = black;
};

int treeHeight(qsizetype count)
{
    int height = 0;
    while (count > 0) {
        ++height;
        count /= 2;
    }
    return height;
}

// Balanced tree over sorted entries: splitting at the middle keeps every empty link at the last
// two depths, so colouring the deepest level red (when it is not full) gives a valid red-black tree.
std::uint32_t buildTree(const std::vector<std::uint32_t> &sorted, qsizetype lo, qsizetype hi, int depth,
                        int deepest, bool perfect, std::vector<TreeNode> &nodes)
{
    if (lo >= hi)
        return noStream;
    const qsizetype mid = lo + (hi - lo) / 2;
    const std::uint32_t id = sorted[size_t(mid)];
    TreeNode &node = nodes[id];
    node.colour = (!perfect && depth == deepest) ? red : black;
    const std::uint32_t left = buildTree(sorted, lo, mid, depth + 1, deepest, perfect, nodes);
    const std::uint32_t right = buildTree(sorted, mid + 1, hi, depth + 1, deepest, perfect, nodes);
    nodes[id].left = left;
    nodes[id].right = right;
    return id;
}

void writeDirectoryEntry(char *at, const QString &name, ObjectType type, const TreeNode &node,
                         std::uint32_t child, const QByteArray &classId, std::uint32_t start, quint64 size)
{
    std::memset(at, 0, directoryEntrySize);
    for (qsizetype i = 0; i < name.size(); ++i)
        ByteWriter::put16(at + 2 * i, name.at(i).unicode());
    ByteWriter::put16(at + 64, std::uint16_t((name.size() + 1) * 2));
    at[66] = char(type);
    at[67] = char(node.colour);
    ByteWriter::put32(at + 68, node.left);
    ByteWriter::put32(at + 72, node.right);
    ByteWriter::put32(at + 76, child);
    if (classId.size() == 16)
        std::memcpy(at + 80, classId.constData(), 16);
    ByteWriter::put32(at + 116, start);
    ByteWriter::put32(at + 120, std::uint32_t(size & 0xFFFFFFFF));
    ByteWriter::put32(at + 124, std::uint32_t(size >> 32));
}

void writeFreeDirectoryEntry(char *at)
{
    std::memset(at, 0, directoryEntrySize);
    ByteWriter::put32(at + 68, noStream);
    ByteWriter::put32(at + 72, noStream);
    ByteWriter::put32(at + 76, noStream);
}

} // namespace

void CompoundFile::setRootClassId(const QByteArray &classId)
{
    m_rootClassId = classId;
}

bool CompoundFile::addStream(const QString &name, const QByteArray &data, QString *error)
{
    const auto fail = [error](const QString &text) {
        if (error)
            *error = text;
        return false;
    };
    if (name.isEmpty() || name.size() > maxNameLength)
        return fail(
            QStringLiteral("stream name \"%1\" must have 1 to %2 characters").arg(name).arg(maxNameLength));
    for (const QChar c : name) {
        if (c == u'/' || c == u'\\' || c == u':' || c == u'!')
            return fail(QStringLiteral("stream name \"%1\" holds the illegal character '%2'").arg(name, c));
    }
    if (data.size() > maxStreamSize)
        return fail(QStringLiteral("stream \"%1\" is too large for the container (%2 bytes)")
                        .arg(name)
                        .arg(data.size()));
    for (const Stream &stream : m_streams) {
        if (sameName(stream.name, name))
            return fail(QStringLiteral("stream name \"%1\" is used twice").arg(name));
    }
    m_streams.append({name, data});
    return true;
}

QByteArray CompoundFile::build(QString *error) const
{
    const auto fail = [error](const QString &text) {
        if (error)
            *error = text;
        return QByteArray();
    };
    if (m_rootClassId.size() != 0 && m_rootClassId.size() != 16)
        return fail(QStringLiteral("root class id must have 16 bytes, not %1").arg(m_rootClassId.size()));

    const qsizetype streamCount = m_streams.size();
    std::vector<std::uint32_t> startOf(size_t(streamCount), endOfChain);

    // Mini stream: small streams, each starting on a 64-byte boundary.
    qint64 miniSectorCount = 0;
    std::vector<qint64> miniStart(size_t(streamCount), -1);
    qint64 bigSectorCount = 0;
    for (qsizetype i = 0; i < streamCount; ++i) {
        const qint64 size = m_streams.at(i).data.size();
        if (size == 0)
            continue;
        if (size < miniStreamCutoff) {
            miniStart[size_t(i)] = miniSectorCount;
            miniSectorCount += sectorsFor(size, miniSectorSize);
        } else {
            bigSectorCount += sectorsFor(size, sectorSize);
        }
    }
    const qint64 miniFatSectorCount = sectorsFor(miniSectorCount * 4, sectorSize);
    const qint64 miniContainerSectorCount = sectorsFor(miniSectorCount * miniSectorSize, sectorSize);
    const qint64 directorySectorCount = sectorsFor((streamCount + 1) * directoryEntrySize, sectorSize);
    const qint64 contentSectors =
        miniFatSectorCount + directorySectorCount + miniContainerSectorCount + bigSectorCount;

    // The FAT must also describe its own sectors and the DIFAT sectors that list it.
    qint64 fatSectorCount = 1;
    qint64 difatSectorCount = 0;
    for (;;) {
        difatSectorCount = fatSectorCount > headerDifatEntries
                               ? sectorsFor(fatSectorCount - headerDifatEntries, difatEntriesPerSector)
                               : 0;
        if (fatSectorCount * entriesPerSector >= contentSectors + fatSectorCount + difatSectorCount)
            break;
        ++fatSectorCount;
    }
    const qint64 totalSectors = contentSectors + fatSectorCount + difatSectorCount;
    if (totalSectors > qint64(maxRegularSector))
        return fail(
            QStringLiteral("container would need %1 sectors, more than the format allows").arg(totalSectors));

    const std::uint32_t firstDifat = std::uint32_t(fatSectorCount);
    const std::uint32_t firstMiniFat = firstDifat + std::uint32_t(difatSectorCount);
    const std::uint32_t firstDirectory = firstMiniFat + std::uint32_t(miniFatSectorCount);
    const std::uint32_t firstMiniContainer = firstDirectory + std::uint32_t(directorySectorCount);
    std::uint32_t nextBig = firstMiniContainer + std::uint32_t(miniContainerSectorCount);

    QByteArray file(qsizetype((totalSectors + 1) * sectorSize), '\0');
    char *const base = file.data();
    const auto sectorAt = [base](std::uint32_t sector) { return base + qsizetype(sector + 1) * sectorSize; };

    std::vector<std::uint32_t> fat(size_t(fatSectorCount * entriesPerSector), freeSector);
    const auto chain = [&fat](std::uint32_t first, qint64 count) {
        for (qint64 i = 0; i < count; ++i)
            fat[size_t(first + i)] = (i + 1 < count) ? std::uint32_t(first + i + 1) : endOfChain;
    };
    for (qint64 i = 0; i < fatSectorCount; ++i)
        fat[size_t(i)] = fatSector;
    for (qint64 i = 0; i < difatSectorCount; ++i)
        fat[size_t(firstDifat + i)] = difatSector;
    chain(firstMiniFat, miniFatSectorCount);
    chain(firstDirectory, directorySectorCount);
    chain(firstMiniContainer, miniContainerSectorCount);

    // Stream contents and the mini FAT.
    std::vector<std::uint32_t> miniFat(size_t(miniFatSectorCount * entriesPerSector), freeSector);
    char *const miniContainer = miniContainerSectorCount ? sectorAt(firstMiniContainer) : nullptr;
    for (qsizetype i = 0; i < streamCount; ++i) {
        const QByteArray &data = m_streams.at(i).data;
        if (data.isEmpty())
            continue;
        if (miniStart[size_t(i)] >= 0) {
            const qint64 first = miniStart[size_t(i)];
            const qint64 count = sectorsFor(data.size(), miniSectorSize);
            for (qint64 s = 0; s < count; ++s)
                miniFat[size_t(first + s)] = (s + 1 < count) ? std::uint32_t(first + s + 1) : endOfChain;
            std::memcpy(miniContainer + first * miniSectorSize, data.constData(), size_t(data.size()));
            startOf[size_t(i)] = std::uint32_t(first);
        } else {
            const qint64 count = sectorsFor(data.size(), sectorSize);
            chain(nextBig, count);
            std::memcpy(sectorAt(nextBig), data.constData(), size_t(data.size()));
            startOf[size_t(i)] = nextBig;
            nextBig += std::uint32_t(count);
        }
    }
    for (qint64 s = 0; s < miniFatSectorCount; ++s) {
        char *at = sectorAt(firstMiniFat + std::uint32_t(s));
        for (int e = 0; e < entriesPerSector; ++e)
            ByteWriter::put32(at + 4 * e, miniFat[size_t(s * entriesPerSector + e)]);
    }

    // Directory: the root entry, then the streams in the order they were added.
    std::vector<std::uint32_t> sorted;
    for (qsizetype i = 0; i < streamCount; ++i)
        sorted.push_back(std::uint32_t(i + 1));
    std::sort(sorted.begin(), sorted.end(), [this](std::uint32_t a, std::uint32_t b) {
        return nameLess(m_streams.at(a - 1).name, m_streams.at(b - 1).name);
    });
    std::vector<TreeNode> nodes(size_t(streamCount + 1));
    const int deepest = treeHeight(streamCount) - 1;
    const bool perfect = ((streamCount + 1) & streamCount) == 0;
    const std::uint32_t treeRoot = buildTree(sorted, 0, streamCount, 0, deepest, perfect, nodes);

    char *const directory = sectorAt(firstDirectory);
    for (qint64 e = 0; e < directorySectorCount * (sectorSize / directoryEntrySize); ++e)
        writeFreeDirectoryEntry(directory + e * directoryEntrySize);
    writeDirectoryEntry(directory, QStringLiteral("Root Entry"), rootObject, TreeNode{}, treeRoot,
                        m_rootClassId, miniContainerSectorCount ? firstMiniContainer : endOfChain,
                        quint64(miniSectorCount * miniSectorSize));
    for (qsizetype i = 0; i < streamCount; ++i) {
        writeDirectoryEntry(directory + (i + 1) * directoryEntrySize, m_streams.at(i).name, streamObject,
                            nodes[size_t(i + 1)], noStream, QByteArray(), startOf[size_t(i)],
                            quint64(m_streams.at(i).data.size()));
    }

    // FAT sectors, then the DIFAT: 109 entries in the header, the rest in chained DIFAT sectors.
    for (qint64 s = 0; s < fatSectorCount; ++s) {
        char *at = sectorAt(std::uint32_t(s));
        for (int e = 0; e < entriesPerSector; ++e)
            ByteWriter::put32(at + 4 * e, fat[size_t(s * entriesPerSector + e)]);
    }
    char *const header = base;
    std::memset(header + 76, 0xFF, headerDifatEntries * 4);
    for (qint64 s = 0; s < fatSectorCount && s < headerDifatEntries; ++s)
        ByteWriter::put32(header + 76 + 4 * s, std::uint32_t(s));
    for (qint64 d = 0; d < difatSectorCount; ++d) {
        char *at = sectorAt(firstDifat + std::uint32_t(d));
        std::memset(at, 0xFF, sectorSize);
        for (int e = 0; e < difatEntriesPerSector; ++e) {
            const qint64 fatIndex = headerDifatEntries + d * difatEntriesPerSector + e;
            if (fatIndex < fatSectorCount)
                ByteWriter::put32(at + 4 * e, std::uint32_t(fatIndex));
        }
        ByteWriter::put32(at + 4 * difatEntriesPerSector,
                          d + 1 < difatSectorCount ? firstDifat + std::uint32_t(d + 1) : endOfChain);
    }

    static const unsigned char signature[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
    std::memcpy(header, signature, sizeof signature);
    ByteWriter::put16(header + 24, 0x003E); // minor version
    ByteWriter::put16(header + 26, 0x0003); // major version 3: 512-byte sectors
    ByteWriter::put16(header + 28, 0xFFFE); // little-endian byte order mark
    ByteWriter::put16(header + 30, 9);      // sector shift
    ByteWriter::put16(header + 32, 6);      // mini sector shift
    ByteWriter::put32(header + 40, 0);      // directory sector count: must be zero in version 3
    ByteWriter::put32(header + 44, std::uint32_t(fatSectorCount));
    ByteWriter::put32(header + 48, firstDirectory);
    ByteWriter::put32(header + 56, miniStreamCutoff);
    ByteWriter::put32(header + 60, miniFatSectorCount ? firstMiniFat : endOfChain);
    ByteWriter::put32(header + 64, std::uint32_t(miniFatSectorCount));
    ByteWriter::put32(header + 68, difatSectorCount ? firstDifat : endOfChain);
    ByteWriter::put32(header + 72, std::uint32_t(difatSectorCount));
    return file;
}
