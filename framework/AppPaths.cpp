#include "AppPaths.h"

#include <QCoreApplication>
#include <QMutex>

namespace {
QMutex s_lock;
QString s_override;
} // namespace

QString AppPaths::applicationDir()
{
    {
        QMutexLocker locker(&s_lock);
        if (!s_override.isEmpty())
            return s_override;
    }
    return QCoreApplication::applicationDirPath();
}

QString AppPaths::configDir() { return applicationDir() + QStringLiteral("/..") + QStringLiteral("/Config"); }
QString AppPaths::logDir() { return applicationDir() + QStringLiteral("/..") + QStringLiteral("/Log"); }
QString AppPaths::imageDir() { return applicationDir() + QStringLiteral("/..") + QStringLiteral("/Image"); }
QString AppPaths::tempDir() { return applicationDir() + QStringLiteral("/..") + QStringLiteral("/Temp"); }

void AppPaths::setApplicationDirOverride(const QString &dir)
{
    QMutexLocker locker(&s_lock);
    s_override = dir;
}
