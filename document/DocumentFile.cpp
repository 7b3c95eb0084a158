#include "DocumentFile.h"

#include <climits>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace DocumentFile {

namespace {

// Room for the suffix of the temporary file written beside the document.
constexpr qsizetype temporarySuffix = 8;

bool tooLongForFileSystem(const QString &docPath)
{
    const QByteArray local = QFile::encodeName(docPath);
    const QByteArray name = QFile::encodeName(QFileInfo(docPath).fileName());
    return local.size() + temporarySuffix >= PATH_MAX || name.size() + temporarySuffix > NAME_MAX;
}

} // namespace

Outcome failure(const QString &runLogLine)
{
    return {false, runLogLine};
}

Outcome checkPath(const QString &docPath)
{
    if (docPath.isEmpty())
        return failure(QStringLiteral("SaveDataToDoc Error, Doc Path Empty"));
    if (tooLongForFileSystem(docPath))
        return failure(QStringLiteral("SaveDataToDoc Error, Doc Path Too Long, Doc Path:%1").arg(docPath));
    if (QDir::isRelativePath(docPath))
        return failure(
            QStringLiteral("SaveDataToDoc Error, Doc Path Not Absolute, Doc Path:%1").arg(docPath));
    const QFileInfo target(docPath);
    if (!QFileInfo(target.absolutePath()).isDir())
        return failure(QStringLiteral("SaveDataToDoc Error, Folder Missing, Doc Path:%1").arg(docPath));
    if (target.isDir())
        return failure(QStringLiteral("SaveDataToDoc Error, Doc Path Is A Folder, Doc Path:%1").arg(docPath));
    return {true, {}};
}

Outcome save(const QString &docPath, const QByteArray &bytes)
{
    Outcome checked = checkPath(docPath);
    if (!checked.saved)
        return checked;
    // QSaveFile writes a temporary file in the same folder and renames it on commit, so the path
    // holds either the previous file or the complete new one.
    QSaveFile file(docPath);
    if (!file.open(QIODevice::WriteOnly))
        return failure(QStringLiteral("SaveDataToDoc Error, Folder Not Writable, Reason:%1, Doc Path:%2")
                           .arg(file.errorString(), docPath));
    if (file.write(bytes) != bytes.size() || !file.commit())
        return failure(QStringLiteral("SaveDataToDoc Error, Write Failed, Reason:%1, Doc Path:%2")
                           .arg(file.errorString(), docPath));
    return {true, QStringLiteral("SaveDataToDoc Successful, Doc Path:%1").arg(docPath)};
}

} // namespace DocumentFile
