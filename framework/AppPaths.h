#pragma once

#include <QString>

// Everything kestrel keeps lives in folders beside the folder of its executable:
// <bin>/../Config, Log, Image and Temp. Tests point this at a temporary tree.
class AppPaths final
{
public:
    // The folder of the executable, or the override when one is set.
    static QString applicationDir();
    static QString configDir();  // applicationDir() + "/../Config"
    static QString logDir();     // applicationDir() + "/../Log"
    static QString imageDir();   // applicationDir() + "/../Image"
    static QString tempDir();    // applicationDir() + "/../Temp"

    // For tests: behave as if the executable lived in dir (empty restores the real one).
    static void setApplicationDirOverride(const QString &dir);
};
