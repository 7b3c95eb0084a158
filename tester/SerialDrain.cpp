#include "SerialDrain.h"

#include <QSerialPort>

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
