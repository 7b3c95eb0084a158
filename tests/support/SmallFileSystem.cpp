#include "SmallFileSystem.h"

#include <QDir>
#include <QFile>
#include <QStorageInfo>

#ifdef Q_OS_LINUX
#include <sys/mount.h>
#endif

SmallFileSystem::SmallFileSystem(const QString &folder, const QByteArray &size) : m_folder(folder)
{
    QDir().mkpath(folder);
#ifdef Q_OS_LINUX
    const QByteArray options = "size=" + size;
    m_mounted = ::mount("tmpfs", folder.toLocal8Bit().constData(), "tmpfs", 0, options.constData()) == 0;
#else
    Q_UNUSED(size);
#endif
}

SmallFileSystem::~SmallFileSystem()
{
#ifdef Q_OS_LINUX
    if (m_mounted)
        ::umount2(m_folder.toLocal8Bit().constData(), MNT_DETACH);
#endif
}

bool SmallFileSystem::fill() const
{
    QFile filler(m_folder + QStringLiteral("/filler"));
    if (!filler.open(QIODevice::WriteOnly))
        return false;
    const QByteArray block(4096, 'x');
    while (filler.write(block) == block.size() && filler.flush()) {
    }
    QByteArray tail(1, 'x');
    while (filler.write(tail) == 1 && filler.flush()) {
    }
    return true;
}

bool SmallFileSystem::fillLeaving(qint64 leaveBytes) const
{
    QFile filler(m_folder + QStringLiteral("/filler"));
    if (!filler.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return false;
    const QByteArray block(4096, 'x');
    while (QStorageInfo(m_folder).bytesAvailable() > leaveBytes + block.size()) {
        if (filler.write(block) != block.size())
            return false;
    }
    return true;
}

bool SmallFileSystem::freeFiller() const
{
    return QFile::remove(m_folder + QStringLiteral("/filler"));
}
