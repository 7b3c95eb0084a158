#pragma once

#include <QByteArray>
#include <QString>

// A kernel file system of a given size (tmpfs) mounted by the test on a folder of its own and
// unmounted in the destructor; mounting needs root (CAP_SYS_ADMIN), so tests skip without it.
class SmallFileSystem final
{
public:
    SmallFileSystem(const QString &folder, const QByteArray &size);
    ~SmallFileSystem();
    SmallFileSystem(const SmallFileSystem &) = delete;
    SmallFileSystem &operator=(const SmallFileSystem &) = delete;

    bool isMounted() const { return m_mounted; }
    // Fills the file system up to its last few bytes with the file "filler".
    bool fill() const;
    // Fills it with "filler" until only about `leaveBytes` are free.
    bool fillLeaving(qint64 leaveBytes) const;
    // Gives the filler's space back.
    bool freeFiller() const;

private:
    QString m_folder;
    bool m_mounted = false;
};
