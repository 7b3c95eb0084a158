#include "DocumentComposer.h"

#include <QFile>
#include <QFileInfo>

#include "Codec.h"
#include "DocumentContent.h"
#include "DocumentFile.h"
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

Outcome failure(QByteArray line)
{
    return {false, std::move(line)};
}

QByteArray gbk(const QString &text)
{
    return Codec::toBytes(text);
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

    // The path is checked before the picture is read, so the first fault named is the path's.
    if (shownPath.size() >= docPathLimit)
        return failure(RunLogLine::format("SaveDataToDoc Error, Doc Path Too Long, Doc Path:%s", docPath));
    const DocumentFile::Outcome checked = DocumentFile::checkPath(data.docPath);
    if (!checked.saved)
        return failure(gbk(checked.runLogLine));

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

    const DocumentFile::Outcome saved = DocumentFile::save(data.docPath, document);
    return {saved.saved, gbk(saved.runLogLine)};
}
