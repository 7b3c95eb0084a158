#include "SocketTable.h"

#include <cstring>

#include <QFile>
#include <QtEndian>

// Linux only: /proc/net/tcp and /proc/net/tcp6 of the test's own network namespace.
namespace {

constexpr int listenState = 0x0A;

// The kernel prints each 32-bit word of an address as a host-order number, so the bytes of the
// word as it sits in memory are the address bytes in network order.
QByteArray addressBytes(QByteArrayView hex)
{
    QByteArray bytes;
    for (qsizetype at = 0; at + 8 <= hex.size(); at += 8) {
        bool ok = false;
        const quint32 word = hex.sliced(at, 8).toUInt(&ok, 16);
        if (!ok)
            return {};
        char raw[4];
        std::memcpy(raw, &word, sizeof raw);
        bytes.append(raw, sizeof raw);
    }
    return bytes;
}

QHostAddress toAddress(const QByteArray &bytes)
{
    if (bytes.size() == 4)
        return QHostAddress(qFromBigEndian<quint32>(bytes.constData()));
    if (bytes.size() == 16)
        return QHostAddress(reinterpret_cast<const quint8 *>(bytes.constData()));
    return {};
}

bool readTable(const QString &path, quint16 port, QList<QHostAddress> &addresses)
{
    QFile table(path);
    if (!table.open(QIODevice::ReadOnly))
        return false;
    table.readLine(); // column titles
    while (!table.atEnd()) {
        const QList<QByteArray> fields = table.readLine().simplified().split(' ');
        if (fields.size() < 4)
            continue;
        const QList<QByteArray> local = fields.at(1).split(':');
        bool portOk = false, stateOk = false;
        if (local.size() != 2 || local.at(1).toUInt(&portOk, 16) != port || !portOk)
            continue;
        if (fields.at(3).toInt(&stateOk, 16) != listenState || !stateOk)
            continue;
        addresses.append(toAddress(addressBytes(local.at(0))));
    }
    return true;
}

} // namespace

namespace SocketTable {

std::optional<QList<QHostAddress>> listeningAddresses(quint16 port)
{
    QList<QHostAddress> addresses;
    const bool v4 = readTable(QStringLiteral("/proc/net/tcp"), port, addresses);
    const bool v6 = readTable(QStringLiteral("/proc/net/tcp6"), port, addresses);
    if (!v4 && !v6)
        return std::nullopt;
    return addresses;
}

} // namespace SocketTable
