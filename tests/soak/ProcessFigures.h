#pragma once

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>

// Resident memory and open descriptors of this process, from /proc.
struct ProcessFigures
{
    qint64 rssKiB = -1;
    int openFds = -1;

    static ProcessFigures now()
    {
        ProcessFigures figures;
        QFile status(QStringLiteral("/proc/self/status"));
        if (status.open(QIODevice::ReadOnly)) {
            for (const QByteArray &line : status.readAll().split('\n')) {
                if (line.startsWith("VmRSS:"))
                    figures.rssKiB = line.mid(6).trimmed().split(' ').value(0).toLongLong();
            }
        }
        // The listing itself holds one descriptor while it runs.
        figures.openFds = int(QDir(QStringLiteral("/proc/self/fd"))
                                  .entryList(QDir::AllEntries | QDir::NoDotAndDotDot)
                                  .size()) -
                          1;
        return figures;
    }

    QString text() const { return QStringLiteral("RSS %1 KiB, %2 open fds").arg(rssKiB).arg(openFds); }
};

// Growth after warm-up that still counts as flat: a tenth of the warmed-up size or 8 MiB,
// whichever is larger, so allocator noise on small processes does not fail the run.
inline bool memoryFlat(const ProcessFigures &warm, const ProcessFigures &end)
{
    const qint64 allowed = std::max<qint64>(8 * 1024, warm.rssKiB / 10);
    return end.rssKiB - warm.rssKiB < allowed;
}

// A soak size from the environment (the full run sets it by hand), else the short default.
inline int soakCount(const char *variable, int fallback)
{
    bool ok = false;
    const int value = qEnvironmentVariableIntValue(variable, &ok);
    return ok && value > 0 ? value : fallback;
}
