#pragma once

#include <QByteArray>
#include <QString>

// The POSIX side of the simulator: a pseudo-terminal pair in raw mode whose device end is reachable
// through a symbolic link, so a serial-port library can open it like a USB serial adapter.
class PtyDevice final
{
public:
    PtyDevice() = default;
    ~PtyDevice();
    PtyDevice(const PtyDevice &) = delete;
    PtyDevice &operator=(const PtyDevice &) = delete;

    // Opens the pair and links `linkPath` to the device end (an existing link is replaced).
    bool open(const QString &linkPath, QString *error);
    // Closes both ends and removes the link.
    void close();

    int controllerDescriptor() const { return m_controller; }
    QString devicePath() const { return m_devicePath; }

    // Non-blocking: what has arrived (empty when nothing).
    QByteArray readAvailable();
    // Writes all bytes, waiting while the device side's buffer is full; false when the pair broke
    // or `stop` became true meanwhile.
    bool writeAll(const QByteArray &bytes, const volatile int *stop = nullptr);
    // Writes as much as fits now; returns the count (0 when the buffer is full).
    qsizetype writeSome(const QByteArray &bytes);

private:
    int m_controller = -1;
    int m_deviceKeeper = -1; // keeps the device end open so the pair survives the client's close
    QString m_devicePath;
    QString m_linkPath;
};
