#pragma once

#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>

// The document path of a Save As: the types offered, the name suggested, the suffix added, and
// the checks that make sure the document is written exactly where the operator chose.
namespace SavePath {

// Who writes a document type: the helper (which receives its path as 255 GBK bytes at most), or
// the window itself. Every path is held to the helper's limits, so one rule serves every type.
enum class Writer
{
    Helper,
    Window,
};

struct DocumentType
{
    QString filter; // "Word document (*.docx)"
    QString suffix; // "docx"
    Writer writer = Writer::Helper;
};

// Every type kestrel writes, in the order the dialog offers them; the first is the default.
QList<DocumentType> documentTypes();
QStringList filters();
// The type of a dialog filter, or of a path's suffix; the default type when neither matches.
DocumentType typeOfFilter(const QString &filter);
DocumentType typeOfPath(const QString &path);
// True when the path's file name ends in the suffix of one of the types.
bool hasDocumentSuffix(const QString &path);
// The path with the filter's suffix added when its name carries none of the document suffixes.
QString withSuffix(const QString &path, const QString &filter);

// "<registration>_<yyyy-MM-dd>", characters unsafe in file names replaced by "_"; the time stamp
// yyyyMMddhhmmsszzz when there is no registration.
QString suggestedName(const QString &registration, const QDateTime &now);

// The longest document path, in GBK bytes, that reaches the helper whole (its field holds one
// more byte, and a path that fills the field might have been cut).
inline constexpr int maxDocPathBytes = 254;

// The first character of the text that GBK cannot hold (a surrogate pair as one), or an empty text.
QString firstUnencodable(const QString &text);

// Who reads a text: the operator (in the chosen language) or the run log (always English).
enum class Wording
{
    Operator,
    RunLog,
};

// Why a document cannot be written at this path, as the end of "Not saved: ..."; empty when it
// can. Looks at the file system (the folder must exist and take a new file).
QString problem(const QString &path, Wording wording = Wording::Operator);

} // namespace SavePath
