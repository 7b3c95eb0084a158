#include "SerialPlatform.h"

#include <QFileInfo>
#include <QSerialPort>
#include <QString>

#if defined(Q_OS_UNIX)
#include <cerrno>
#include <termios.h>
#endif

void drainSerialOutput(QSerialPort &port)
{
#if defined(Q_OS_UNIX)
    const int descriptor = static_cast<int>(port.handle());
    if (descriptor < 0)
        return;
    while (tcdrain(descriptor) == -1 && errno == EINTR) {
    }
#else
    // Elsewhere the serial library's write wait already returns only once the driver took the bytes.
    Q_UNUSED(port);
#endif
}

bool serialDeviceMayExist(const QString &name)
{
#if defined(Q_OS_UNIX)
    // Opening takes a lock file first, and that costs a disk sync even for a missing device.
    return QFileInfo::exists(name);
#else
    // Device names such as \\.\COM3 are not files; only the open itself can tell.
    Q_UNUSED(name);
    return true;
#endif
}
