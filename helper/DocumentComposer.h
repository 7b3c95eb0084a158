#pragma once

#include <QByteArray>
#include <QString>

#include "SaveData.h"

// Turns the save data of one export into the document at docPath. The format follows the suffix:
// ".docx" (any case) is Office Open XML, everything else the Word 97-2003 binary format. The file
// appears only complete: it is written beside docPath and renamed over it.
class DocumentComposer final
{
public:
    struct Outcome
    {
        bool saved = false;
        QByteArray runLogLine; // GBK, one line naming the outcome, the failing step and the path
    };

    static Outcome compose(const SaveData &data);

    static bool isDocx(const QString &docPath);

    // Largest picture file accepted; a report picture is far smaller.
    static constexpr qint64 maxPictureBytes = 64 * 1024 * 1024;
};
