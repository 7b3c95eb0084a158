#pragma once

#include <QByteArray>
#include <QString>

#include "DocumentContent.h"

// Writes the exported document in Word's 97-2003 binary format (.doc): the title paragraph and
// the embedded report picture, centred, with the page header and footer, on A4.
class WordBinaryWriter final
{
public:
    WordBinaryWriter() = delete;
    // The whole file; empty with *error set when the content cannot be written.
    static QByteArray build(const DocumentContent &content, QString *error);
};
