#pragma once

#include <zip.h>

#include <QByteArray>
#include <QMap>
#include <QString>

// Every entry of a ZIP archive held in memory, by name; empty when the archive is not readable.
inline QMap<QString, QByteArray> zipEntries(const QByteArray &archive)
{
    QMap<QString, QByteArray> entries;
    zip_error_t error;
    zip_error_init(&error);
    zip_source_t *source = zip_source_buffer_create(archive.constData(), archive.size(), 0, &error);
    zip_t *zip = source ? zip_open_from_source(source, ZIP_RDONLY | ZIP_CHECKCONS, &error) : nullptr;
    zip_error_fini(&error);
    if (!zip) {
        if (source)
            zip_source_free(source);
        return entries;
    }
    for (zip_int64_t i = 0; i < zip_get_num_entries(zip, 0); ++i) {
        zip_stat_t stat;
        if (zip_stat_index(zip, i, 0, &stat) < 0)
            continue;
        zip_file_t *file = zip_fopen_index(zip, i, 0);
        QByteArray bytes(static_cast<qsizetype>(stat.size), '\0');
        if (file && zip_fread(file, bytes.data(), stat.size) == static_cast<zip_int64_t>(stat.size))
            entries.insert(QString::fromUtf8(stat.name), bytes);
        if (file)
            zip_fclose(file);
    }
    zip_close(zip);
    return entries;
}
