#pragma once

#include <QByteArray>
#include <QString>

// Writing a finished document to the path the operator chose, the same way for every format and
// both programs: the path is checked first, the file appears only complete (written beside the
// path and renamed over it), and the outcome is one run-log line.
namespace DocumentFile {

struct Outcome
{
    bool saved = false;
    QString runLogLine; // "SaveDataToDoc Successful, Doc Path:..." or the error line; empty: not decided yet
};

// A failure when the path cannot take a document (empty, relative, too long for the file system,
// a folder, in a folder that does not exist); otherwise saved with an empty line.
Outcome checkPath(const QString &docPath);

// Checks the path and writes the bytes atomically.
Outcome save(const QString &docPath, const QByteArray &bytes);

Outcome failure(const QString &runLogLine);

} // namespace DocumentFile
