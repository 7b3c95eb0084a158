#include "ProcessPlatform.h"

#include <QByteArray>
#include <QFile>
#include <QString>

#if defined(Q_OS_UNIX)
#include <cerrno>
#include <csignal>
#endif

bool detachedProcessEnded(qint64 pid)
{
#if defined(Q_OS_UNIX)
    if (pid <= 0)
        return false;
    if (::kill(static_cast<pid_t>(pid), 0) == -1 && errno == ESRCH)
        return true;
    // Ended, but not yet reaped by whoever adopted it (Linux's /proc; elsewhere it counts as running).
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return false;
    const QByteArray line = stat.readAll();
    const qsizetype close = line.lastIndexOf(')');
    return close >= 0 && line.mid(close + 2, 1) == "Z";
#else
    Q_UNUSED(pid);
    return false;
#endif
}
