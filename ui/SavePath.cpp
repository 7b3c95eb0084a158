#include "SavePath.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryFile>

#include "Codec.h"

namespace SavePath {

namespace {

QString translated(const char *text)
{
    return QCoreApplication::translate("MainUI", text);
}

// Room for the suffix of the temporary file the writer puts beside the document.
constexpr qsizetype temporarySuffixBytes = 8;
constexpr qsizetype maxFileNameBytes = 255;

} // namespace

QString firstUnencodable(const QString &text)
{
    for (qsizetype i = 0; i < text.size();) {
        const qsizetype length = text.at(i).isHighSurrogate() && i + 1 < text.size() ? 2 : 1;
        const QString character = text.mid(i, length);
        if (Codec::toText(Codec::toBytes(character)) != character)
            return character;
        i += length;
    }
    return QString();
}

QList<DocumentType> documentTypes()
{
    return {
        {translated(QT_TRANSLATE_NOOP("MainUI", "Word 97-2003 document (*.doc)")), QStringLiteral("doc"),
         Writer::Helper},
        {translated(QT_TRANSLATE_NOOP("MainUI", "Word document (*.docx)")), QStringLiteral("docx"),
         Writer::Helper},
        {translated(QT_TRANSLATE_NOOP("MainUI", "PDF document (*.pdf)")), QStringLiteral("pdf"),
         Writer::Window},
    };
}

QStringList filters()
{
    QStringList list;
    for (const DocumentType &type : documentTypes())
        list << type.filter;
    return list;
}

DocumentType typeOfFilter(const QString &filter)
{
    const QList<DocumentType> types = documentTypes();
    for (const DocumentType &type : types) {
        if (type.filter == filter)
            return type;
    }
    return types.first();
}

DocumentType typeOfPath(const QString &path)
{
    const QString suffix = QFileInfo(path).suffix();
    const QList<DocumentType> types = documentTypes();
    for (const DocumentType &type : types) {
        if (suffix.compare(type.suffix, Qt::CaseInsensitive) == 0)
            return type;
    }
    return types.first();
}

bool hasDocumentSuffix(const QString &path)
{
    const QString suffix = QFileInfo(path).suffix();
    for (const DocumentType &type : documentTypes()) {
        if (suffix.compare(type.suffix, Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

QString withSuffix(const QString &path, const QString &filter)
{
    if (path.isEmpty() || path.endsWith(QLatin1Char('/')) || hasDocumentSuffix(path))
        return path;
    return path + QLatin1Char('.') + typeOfFilter(filter).suffix;
}

QString suggestedName(const QString &registration, const QDateTime &now)
{
    QString name = registration.trimmed();
    if (name.isEmpty())
        return now.toString(QStringLiteral("yyyyMMddhhmmsszzz"));
    // Unsafe on one of the platforms kestrel runs on, or a control character.
    static const QString unsafe = QStringLiteral("\\/:*?\"<>|");
    for (QChar &character : name) {
        if (unsafe.contains(character) || character.unicode() < 0x20 || character.unicode() == 0x7f)
            character = QLatin1Char('_');
    }
    return name + QLatin1Char('_') + now.toString(QStringLiteral("yyyy-MM-dd"));
}

QString problem(const QString &path, Wording wording)
{
    // The run log keeps the English source; the operator reads the chosen language.
    const auto say = [wording](const char *text) {
        return wording == Wording::RunLog ? QString::fromUtf8(text) : translated(text);
    };
    const QFileInfo info(path);
    if (path.isEmpty() || info.fileName().isEmpty())
        return say(QT_TRANSLATE_NOOP("MainUI", "the file name is empty"));
    if (QDir::isRelativePath(path))
        return say(QT_TRANSLATE_NOOP("MainUI", "the path does not start at a drive or root folder"));
    const QString character = firstUnencodable(path);
    if (!character.isEmpty())
        return say(QT_TRANSLATE_NOOP(
                       "MainUI", "the path holds \u201c%1\u201d (U+%2), which a document path cannot carry"))
            .arg(character)
            .arg(character.toUcs4().value(0), 4, 16, QLatin1Char('0'));
    const qsizetype bytes = Codec::toBytes(path).size();
    if (bytes > maxDocPathBytes)
        return say(QT_TRANSLATE_NOOP("MainUI", "the path is %1 bytes long; at most %2 reach the document"))
            .arg(bytes)
            .arg(maxDocPathBytes);
    if (QFile::encodeName(info.fileName()).size() + temporarySuffixBytes > maxFileNameBytes)
        return say(QT_TRANSLATE_NOOP("MainUI", "the file name is too long for the file system"));
    const QFileInfo folder(info.absolutePath());
    if (!folder.exists())
        return say(QT_TRANSLATE_NOOP("MainUI", "the folder does not exist"));
    if (!folder.isDir())
        return say(QT_TRANSLATE_NOOP("MainUI", "the folder is a file"));
    if (info.isDir())
        return say(QT_TRANSLATE_NOOP("MainUI", "a folder of that name is there"));
    if (info.exists() && !info.isWritable())
        return say(QT_TRANSLATE_NOOP("MainUI", "the document there is read-only"));
    // Permissions do not tell everything (read-only mounts, the administrator's rights): try it.
    QTemporaryFile probe(info.absolutePath() + QStringLiteral("/.kestrel-probe-XXXXXX"));
    if (!probe.open())
        return say(QT_TRANSLATE_NOOP("MainUI", "the folder cannot be written"));
    return QString();
}

} // namespace SavePath
