#pragma once

#include <QString>

// Title, page header and page footer of exported documents ("Doc Setting" group of main.ini).
struct DocSetting
{
    QString title;
    QString header;
    QString footer;

    friend bool operator==(const DocSetting &, const DocSetting &) = default;
};
