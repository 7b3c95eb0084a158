#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include "DocumentContent.h"

// Writes an export as an Office Open XML word-processing document (.docx): page header and footer,
// the centred title and the report picture embedded below it, on an A4 page.
class DocxWriter final
{
public:
    // The complete file; empty with *error set when the content cannot be written.
    static QByteArray build(const DocumentContent &content, QString *error);
    // The same with a fixed creation time, so that the output can be compared byte for byte.
    static QByteArray build(const DocumentContent &content, const QDateTime &createdUtc, QString *error);
};
