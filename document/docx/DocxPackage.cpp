#include "DocxPackage.h"

#include <algorithm>
#include <iterator>

#include <zip.h>

#include "DocxParts.h"

void DocxPackage::addDefault(const QString &extension, const QString &contentType)
{
    for (const Override &entry : m_defaults)
        if (entry.partName.compare(extension, Qt::CaseInsensitive) == 0)
            return;
    m_defaults.push_back({extension, contentType});
}

void DocxPackage::addPart(const QString &name, const QString &contentType, const QByteArray &bytes,
                          bool compress)
{
    if (!contentType.isEmpty())
        m_overrides.push_back({name, contentType});
    m_parts.push_back({name, bytes, compress});
}

QString DocxPackage::addRelationship(const QString &sourcePart, const QString &type, const QString &target)
{
    auto source = std::find_if(m_sources.begin(), m_sources.end(),
                               [&](const Source &s) { return s.part == sourcePart; });
    if (source == m_sources.end()) {
        m_sources.push_back({sourcePart, {}});
        source = std::prev(m_sources.end());
    }
    const QString id = QStringLiteral("rId%1").arg(source->relationships.size() + 1);
    source->relationships.push_back({id, type, target});
    return id;
}

QString DocxPackage::relationshipsPartName(const QString &sourcePart)
{
    const qsizetype slash = sourcePart.lastIndexOf(QLatin1Char('/'));
    return sourcePart.left(slash + 1) + QStringLiteral("_rels/") + sourcePart.mid(slash + 1) +
           QStringLiteral(".rels");
}

QByteArray DocxPackage::contentTypesXml() const
{
    std::vector<DocxParts::ContentType> defaults;
    for (const Override &entry : m_defaults)
        defaults.push_back({entry.partName, entry.contentType});
    std::vector<DocxParts::ContentType> overrides;
    for (const Override &entry : m_overrides)
        overrides.push_back({entry.partName, entry.contentType});
    return DocxParts::contentTypes(defaults, overrides);
}

QByteArray DocxPackage::relationshipsXml(const QString &sourcePart) const
{
    std::vector<DocxParts::Relationship> list;
    for (const Source &source : m_sources)
        if (source.part == sourcePart)
            for (const Relationship &r : source.relationships)
                list.push_back({r.id, r.type, r.target});
    return DocxParts::relationships(list);
}

namespace {

QString zipError(zip_error_t *error)
{
    return QString::fromUtf8(zip_error_strerror(error));
}

bool addEntry(zip_t *archive, const QString &name, const QByteArray &bytes, bool compress, QString *error)
{
    // Part names are absolute; ZIP entry names are not.
    const QByteArray entryName = name.mid(name.startsWith(QLatin1Char('/')) ? 1 : 0).toUtf8();
    zip_source_t *source =
        zip_source_buffer(archive, bytes.constData(), static_cast<zip_uint64_t>(bytes.size()), 0);
    if (!source) {
        *error = zipError(zip_get_error(archive));
        return false;
    }
    const zip_int64_t index = zip_file_add(archive, entryName.constData(), source, ZIP_FL_ENC_UTF_8);
    if (index < 0) {
        zip_source_free(source);
        *error = zipError(zip_get_error(archive));
        return false;
    }
    if (zip_set_file_compression(archive, static_cast<zip_uint64_t>(index),
                                 compress ? ZIP_CM_DEFLATE : ZIP_CM_STORE, 0) < 0) {
        *error = zipError(zip_get_error(archive));
        return false;
    }
    return true;
}

// Reads the whole of an in-memory source after the archive has been written into it.
QByteArray readSource(zip_source_t *source, QString *error)
{
    zip_stat_t stat;
    zip_stat_init(&stat);
    if (zip_source_stat(source, &stat) < 0 || !(stat.valid & ZIP_STAT_SIZE) || zip_source_open(source) < 0) {
        *error = zipError(zip_source_error(source));
        return {};
    }
    QByteArray bytes(static_cast<qsizetype>(stat.size), Qt::Uninitialized);
    const zip_int64_t read = zip_source_read(source, bytes.data(), stat.size);
    zip_source_close(source);
    if (read < 0 || static_cast<zip_uint64_t>(read) != stat.size) {
        *error = QStringLiteral("could not read the archive back");
        return {};
    }
    return bytes;
}

} // namespace

QByteArray DocxPackage::zip(QString *error) const
{
    QString ignored;
    if (!error)
        error = &ignored;

    // Everything the archive points at must outlive zip_close().
    std::vector<Part> entries;
    entries.push_back({QStringLiteral("/[Content_Types].xml"), contentTypesXml(), true});
    for (const Source &source : m_sources)
        entries.push_back({relationshipsPartName(source.part), relationshipsXml(source.part), true});
    entries.insert(entries.end(), m_parts.begin(), m_parts.end());

    zip_error_t zipErr;
    zip_error_init(&zipErr);
    zip_source_t *buffer = zip_source_buffer_create(nullptr, 0, 0, &zipErr);
    if (!buffer) {
        *error = zipError(&zipErr);
        zip_error_fini(&zipErr);
        return {};
    }
    zip_t *archive = zip_open_from_source(buffer, ZIP_TRUNCATE, &zipErr);
    if (!archive) {
        *error = zipError(&zipErr);
        zip_error_fini(&zipErr);
        zip_source_free(buffer);
        return {};
    }
    zip_error_fini(&zipErr);
    zip_source_keep(buffer); // the archive releases it on close; the bytes are read after that

    for (const Part &entry : entries) {
        if (!addEntry(archive, entry.name, entry.bytes, entry.compress, error)) {
            zip_discard(archive);
            zip_source_free(buffer);
            return {};
        }
    }
    if (zip_close(archive) < 0) {
        *error = zipError(zip_get_error(archive));
        zip_discard(archive);
        zip_source_free(buffer);
        return {};
    }
    QByteArray bytes = readSource(buffer, error);
    zip_source_free(buffer);
    return bytes;
}
