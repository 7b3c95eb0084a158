#include "TestPython.h"

#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QStringList>

QString findTestPython(bool needOlefile)
{
    QStringList candidates{QStringLiteral("/usr/bin/python3")};
    const QString onPath = QStandardPaths::findExecutable(QStringLiteral("python3"));
    if (!onPath.isEmpty())
        candidates << onPath;
    for (const QString &python : candidates) {
        if (!QFileInfo::exists(python))
            continue;
        if (!needOlefile)
            return python;
        QProcess probe;
        probe.start(python, {QStringLiteral("-c"), QStringLiteral("import olefile")});
        if (probe.waitForFinished(30000) && probe.exitStatus() == QProcess::NormalExit &&
            probe.exitCode() == 0)
            return python;
    }
    return QString();
}
