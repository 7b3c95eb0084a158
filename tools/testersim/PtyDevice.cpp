#include "PtyDevice.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <QFile>

PtyDevice::~PtyDevice()
{
    close();
}

bool PtyDevice::open(const QString &linkPath, QString *error)
{
    auto fail = [&](const char *step) {
        if (error)
            *error = QStringLiteral("%1: %2").arg(QLatin1String(step),
                                                  QString::fromLocal8Bit(std::strerror(errno)));
        close();
        return false;
    };

    m_controller = posix_openpt(O_RDWR | O_NOCTTY);
    if (m_controller < 0)
        return fail("posix_openpt");
    if (grantpt(m_controller) != 0)
        return fail("grantpt");
    if (unlockpt(m_controller) != 0)
        return fail("unlockpt");
    const char *name = ptsname(m_controller);
    if (!name)
        return fail("ptsname");
    m_devicePath = QString::fromLocal8Bit(name);

    m_deviceKeeper = ::open(name, O_RDWR | O_NOCTTY);
    if (m_deviceKeeper < 0)
        return fail("open device end");
    termios settings{};
    if (tcgetattr(m_deviceKeeper, &settings) != 0)
        return fail("tcgetattr");
    cfmakeraw(&settings);
    cfsetispeed(&settings, B9600);
    cfsetospeed(&settings, B9600);
    if (tcsetattr(m_deviceKeeper, TCSANOW, &settings) != 0)
        return fail("tcsetattr");

    const int flags = fcntl(m_controller, F_GETFL);
    if (flags < 0 || fcntl(m_controller, F_SETFL, flags | O_NONBLOCK) != 0)
        return fail("fcntl");

    const QByteArray link = QFile::encodeName(linkPath);
    ::unlink(link.constData());
    if (::symlink(name, link.constData()) != 0)
        return fail("symlink");
    m_linkPath = linkPath;
    return true;
}

void PtyDevice::close()
{
    if (!m_linkPath.isEmpty()) {
        ::unlink(QFile::encodeName(m_linkPath).constData());
        m_linkPath.clear();
    }
    if (m_deviceKeeper >= 0) {
        ::close(m_deviceKeeper);
        m_deviceKeeper = -1;
    }
    if (m_controller >= 0) {
        ::close(m_controller);
        m_controller = -1;
    }
}

QByteArray PtyDevice::readAvailable()
{
    QByteArray data;
    char buffer[4096];
    for (;;) {
        const ssize_t count = ::read(m_controller, buffer, sizeof(buffer));
        if (count > 0) {
            data.append(buffer, count);
            continue;
        }
        if (count < 0 && errno == EINTR)
            continue;
        break;
    }
    return data;
}

qsizetype PtyDevice::writeSome(const QByteArray &bytes)
{
    for (;;) {
        const ssize_t count = ::write(m_controller, bytes.constData(), static_cast<size_t>(bytes.size()));
        if (count >= 0)
            return count;
        if (errno == EINTR)
            continue;
        return 0;
    }
}

bool PtyDevice::writeAll(const QByteArray &bytes, const volatile int *stop)
{
    qsizetype done = 0;
    while (done < bytes.size()) {
        if (stop && *stop)
            return false;
        const ssize_t count =
            ::write(m_controller, bytes.constData() + done, static_cast<size_t>(bytes.size() - done));
        if (count > 0) {
            done += count;
            continue;
        }
        if (count < 0 && errno == EINTR)
            continue;
        if (count < 0 && errno != EAGAIN && errno != EWOULDBLOCK)
            return false;
        pollfd wait{m_controller, POLLOUT, 0};
        ::poll(&wait, 1, 20);
    }
    return true;
}
