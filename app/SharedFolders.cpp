#include "SharedFolders.h"

#include <QFile>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#endif

bool SharedFolders::keepGroupWritable(const QString &dataDir)
{
#ifdef Q_OS_UNIX
    struct stat info = {};
    if (::stat(QFile::encodeName(dataDir).constData(), &info) != 0 || !S_ISDIR(info.st_mode) ||
        (info.st_mode & S_ISGID) == 0)
        return false;
    const mode_t mask = ::umask(0);
    ::umask(mask & ~static_cast<mode_t>(S_IWGRP));
    return true;
#else
    Q_UNUSED(dataDir);
    return false;
#endif
}
