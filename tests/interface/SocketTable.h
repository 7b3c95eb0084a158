#pragma once

#include <optional>

#include <QHostAddress>
#include <QList>

// The kernel's view of this machine's TCP sockets, read without opening a connection anywhere.
namespace SocketTable {

// Local addresses of every socket listening on port, IPv4 and IPv6 alike; nothing when the
// system offers no socket table to read.
std::optional<QList<QHostAddress>> listeningAddresses(quint16 port);

} // namespace SocketTable
