#pragma once

#include <cstdint>
#include <optional>

#include <QHostAddress>

// Which user owns the other end of a TCP connection made on this computer. The one place of the
// service that asks the operating system about sockets.
//
// Linux: the kernel's socket table, looked up for the connection's exact addresses and ports
// (sock_diag over netlink, which finds the one socket at once; /proc/net/tcp when netlink is not
// available). Elsewhere there is no lookup yet and the answer is "unknown": on Windows the
// equivalent is GetExtendedTcpTable (TCP_TABLE_OWNER_PID_CONNECTIONS) for the peer's process id
// and that process's token user; macOS and the BSDs have no per-connection owner short of
// walking every process's file table.
namespace PeerUser {

// True where ownerOf() can give an answer.
bool supported();

// The user id of the process that owns the socket at peer:peerPort connected to local:localPort;
// empty when it cannot be found.
std::optional<std::uint32_t> ownerOf(const QHostAddress &peer, quint16 peerPort, const QHostAddress &local,
                                     quint16 localPort);

// The user id this program runs as.
std::uint32_t currentUser();

} // namespace PeerUser
