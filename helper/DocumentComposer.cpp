#include "DocumentComposer.h"

#include <climits>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include "Codec.h"
#include "DocumentContent.h"
#include "DocxWriter.h"
#include "HelperProtocol.h"
#include "PngHeader.h"
#include "RunLogLine.h"
#include "WordBinaryWriter.h"

namespace {

using Outcome = DocumentComposer::Outcome;
using HelperProtocol::GetSaveDataResponse;

// kestrel cuts each path to its field less one byte; a path that fills the field may have lost its
// end, and writing to the shortened path would put the document somewhere the operator never chose.
constexpr qsizetype docPathLimit = sizeof(GetSaveDataResponse::docPath) - 1;
constexpr qsizetype picturePathLimit = sizeof(GetSaveDataResponse::picturePath) - 1;
// Room for the suffix of the temporary file written beside the document.
constexpr qsizetype temporarySuffix = 8;

Outcome failure(QByteArray line)
{
    return {false, std::move(line)};
}

QByteArray gbk(const QString &text)
{
    return Codec::toBytes(text);
}

bool pathTooLong(const QString &docPath)
{
    if (gbk(docPath).size() >= docPathLimit)
        return true;
    const QByteArray local = QFile::encodeName(docPath);
    const QByteArray name = QFile::encodeName(QFileInfo(docPath).fileName());
    return local.size() + temporarySuffix >= PATH_MAX || name.size() + temporarySuffix > NAME_MAX;
}

struct Picture
{
    QByteArray bytes;
    PngHeader header;
};

Outcome readPicture(const QString &path, Picture &picture)
{
    const QByteArray shownPath = gbk(path);
    if (path.isEmpty())
        return failure(RunLogLine::format("SaveDataToDoc Error, Picture Path Empty"));
    if (shownPath.size() >= picturePathLimit)
        return failure(RunLogLine::format("SaveDataToDoc Error, Picture Path Too Long, Picture Path:%s",
                                          shownPath.constData()));
    const QFileInfo info(path);
    if (!info.exists())
        return failure(RunLogLine::format("SaveDataToDoc Error, Picture Missing, Picture Path:%s",
                                          shownPath.constData()));
    QFile file(path);
    if (info.isDir() || !file.open(QIODevice::ReadOnly))
        return failure(RunLogLine::format("SaveDataToDoc Error, Picture Unreadable, Picture Path:%s",
                                          shownPath.constData()));
    if (file.size() > DocumentComposer::maxPictureBytes)
        return failure(
            RunLogLine::format("SaveDataToDoc Error, Picture Too Large, Size:%lld, Picture Path:%s",
                               static_cast<long long>(file.size()), shownPath.constData()));
    picture.bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return failure(RunLogLine::format("SaveDataToDoc Error, Picture Unreadable, Picture Path:%s",
                                          shownPath.constData()));
    picture.header = PngHeader::read(picture.bytes);
    switch (picture.header.status) {
    case PngHeader::Status::Valid:
        return {true, {}};
    case PngHeader::Status::Truncated:
        return failure(RunLogLine::format("SaveDataToDoc Error, Picture Truncated, Picture Path:%s",
                                          shownPath.constData()));
    case PngHeader::Status::NotPng:
        break;
    }
    return failure(
        RunLogLine::format("SaveDataToDoc Error, Picture Not PNG, Picture Path:%s", shownPath.constData()));
}

QByteArray buildDocument(const QString &docPath, const DocumentContent &content, QString *error)
{
    if (DocumentComposer::isDocx(docPath))
        return DocxWriter::build(content, error);
    return WordBinaryWriter::build(content, error);
}

} // namespace

bool DocumentComposer::isDocx(const QString &docPath)
{
    return QFileInfo(docPath).fileName().endsWith(QStringLiteral(".docx"), Qt::CaseInsensitive);
}

DocumentComposer::Outcome DocumentComposer::compose(const SaveData &data)
{
    const QByteArray shownPath = gbk(data.docPath);
    const char *docPath = shownPath.constData();

    if (data.docPath.isEmpty())
        return failure(RunLogLine::format("SaveDataToDoc Error, Doc Path Empty"));
    if (pathTooLong(data.docPath))
        return failure(RunLogLine::format("SaveDataToDoc Error, Doc Path Too Long, Doc Path:%s", docPath));
    if (QDir::isRelativePath(data.docPath))
        return failure(
            RunLogLine::format("SaveDataToDoc Error, Doc Path Not Absolute, Doc Path:%s", docPath));
    const QFileInfo target(data.docPath);
    if (!QFileInfo(target.absolutePath()).isDir())
        return failure(RunLogLine::format("SaveDataToDoc Error, Folder Missing, Doc Path:%s", docPath));
    if (target.isDir())
        return failure(RunLogLine::format("SaveDataToDoc Error, Doc Path Is A Folder, Doc Path:%s", docPath));

    Picture picture;
    Outcome pictureOutcome = readPicture(data.picturePath, picture);
    if (!pictureOutcome.saved)
        return pictureOutcome;

    DocumentContent content;
    content.title = data.title;
    content.header = data.header;
    content.footer = data.footer;
    content.png = picture.bytes;
    content.pixelWidth = picture.header.width;
    content.pixelHeight = picture.header.height;

    QString error;
    const QByteArray document = buildDocument(data.docPath, content, &error);
    if (document.isEmpty())
        return failure(
            RunLogLine::format("SaveDataToDoc Error, Build Document Failed, Reason:%s, Doc Path:%s",
                               gbk(error).constData(), docPath));

    // QSaveFile writes a temporary file in the same folder and renames it on commit, so the path
    // holds either the previous file or the complete new one.
    QSaveFile file(data.docPath);
    if (!file.open(QIODevice::WriteOnly))
        return failure(RunLogLine::format("SaveDataToDoc Error, Folder Not Writable, Reason:%s, Doc Path:%s",
                                          gbk(file.errorString()).constData(), docPath));
    if (file.write(document) != document.size() || !file.commit())
        return failure(RunLogLine::format("SaveDataToDoc Error, Write Failed, Reason:%s, Doc Path:%s",
                                          gbk(file.errorString()).constData(), docPath));
    return {true, RunLogLine::format("SaveDataToDoc Successful, Doc Path:%s", docPath)};
}
