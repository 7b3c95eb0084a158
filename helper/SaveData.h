#pragma once

#include <QString>

// The five texts of one export as kestrel sends them: what goes into the document and where.
struct SaveData
{
    QString title;
    QString header;
    QString footer;
    QString picturePath;
    QString docPath;
};
