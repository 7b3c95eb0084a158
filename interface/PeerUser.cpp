#include "PeerUser.h"

#include <QtGlobal>

#ifdef Q_OS_LINUX
#include <cstring>

#include <QFile>
#include <QtEndian>

#include <linux/inet_diag.h>
#include <linux/netlink.h>
#include <linux/sock_diag.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// One request for one socket: the kernel looks the four-tuple up instead of listing every socket.
// `answered` tells whether the kernel could be asked at all.
std::optional<std::uint32_t> ownerFromNetlink(quint32 peer, quint16 peerPort, quint32 local,
                                              quint16 localPort, bool &answered)
{
    answered = false;
    // One netlink socket per thread for the program's life: opening one per connection cost
    // more than the lookup itself.
    struct Channel
    {
        int fd = ::socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_SOCK_DIAG);
        ~Channel()
        {
            if (fd >= 0)
                ::close(fd);
        }
    };
    thread_local const Channel channel;
    const int fd = channel.fd;
    if (fd < 0)
        return std::nullopt;
    struct Request
    {
        nlmsghdr header;
        inet_diag_req_v2 query;
    } request;
    std::memset(&request, 0, sizeof(request));
    request.header.nlmsg_len = sizeof(request);
    request.header.nlmsg_type = SOCK_DIAG_BY_FAMILY;
    request.header.nlmsg_flags = NLM_F_REQUEST;
    thread_local std::uint32_t sequence = 0;
    request.header.nlmsg_seq = ++sequence;
    request.query.sdiag_family = AF_INET;
    request.query.sdiag_protocol = IPPROTO_TCP;
    request.query.idiag_states = ~0u;
    // Seen from the peer's socket: its own address is the source.
    request.query.id.idiag_sport = qToBigEndian(peerPort);
    request.query.id.idiag_dport = qToBigEndian(localPort);
    request.query.id.idiag_src[0] = qToBigEndian(peer);
    request.query.id.idiag_dst[0] = qToBigEndian(local);
    request.query.id.idiag_cookie[0] = INET_DIAG_NOCOOKIE;
    request.query.id.idiag_cookie[1] = INET_DIAG_NOCOOKIE;

    sockaddr_nl kernel = {};
    kernel.nl_family = AF_NETLINK;
    std::optional<std::uint32_t> owner;
    if (::sendto(fd, &request, sizeof(request), 0, reinterpret_cast<sockaddr *>(&kernel), sizeof(kernel)) ==
        ssize_t(sizeof(request))) {
        alignas(nlmsghdr) char answer[8192];
        // Every request gets exactly one answer; one left over from an earlier request is skipped.
        ssize_t length = 0;
        const nlmsghdr *message = nullptr;
        for (int attempt = 0; attempt < 4; ++attempt) {
            length = ::recv(fd, answer, sizeof(answer), 0);
            message = reinterpret_cast<const nlmsghdr *>(answer);
            if (length <= 0 || !NLMSG_OK(message, std::uint32_t(length)) ||
                message->nlmsg_seq == request.header.nlmsg_seq)
                break;
        }
        if (length > 0 && message->nlmsg_seq == request.header.nlmsg_seq) {
            answered = true;
            if (NLMSG_OK(message, std::uint32_t(length)) && message->nlmsg_type == SOCK_DIAG_BY_FAMILY &&
                message->nlmsg_len >= NLMSG_LENGTH(sizeof(inet_diag_msg))) {
                const auto *found = static_cast<const inet_diag_msg *>(NLMSG_DATA(message));
                if (found->id.idiag_sport == request.query.id.idiag_sport &&
                    found->id.idiag_dport == request.query.id.idiag_dport &&
                    found->id.idiag_src[0] == request.query.id.idiag_src[0] &&
                    found->id.idiag_dst[0] == request.query.id.idiag_dst[0])
                    owner = found->idiag_uid;
            }
        }
    }
    return owner;
}

// The same from the text table, for systems where sock_diag is not built in. Addresses there are
// the raw network-order words printed as host integers.
std::optional<std::uint32_t> ownerFromProcTable(quint32 peer, quint16 peerPort, quint32 local,
                                                quint16 localPort)
{
    QFile table(QStringLiteral("/proc/net/tcp"));
    if (!table.open(QIODevice::ReadOnly))
        return std::nullopt;
    const auto field = [](quint32 address, quint16 port) {
        const quint32 raw = qToBigEndian(address);
        quint32 printed = 0;
        std::memcpy(&printed, &raw, sizeof(printed));
        return QByteArray::number(printed, 16).rightJustified(8, '0').toUpper() + ':' +
               QByteArray::number(port, 16).rightJustified(4, '0').toUpper();
    };
    const QByteArray localField = field(peer, peerPort);
    const QByteArray remoteField = field(local, localPort);
    table.readLine();
    while (!table.atEnd()) {
        const QList<QByteArray> columns = table.readLine().simplified().split(' ');
        // sl local rem st queues tr retrnsmt uid ...
        if (columns.size() > 7 && columns.at(1) == localField && columns.at(2) == remoteField) {
            bool ok = false;
            const std::uint32_t uid = columns.at(7).toUInt(&ok);
            if (ok)
                return uid;
        }
    }
    return std::nullopt;
}

} // namespace

bool PeerUser::supported()
{
    return true;
}

std::optional<std::uint32_t> PeerUser::ownerOf(const QHostAddress &peer, quint16 peerPort,
                                               const QHostAddress &local, quint16 localPort)
{
    bool peerIsV4 = false;
    bool localIsV4 = false;
    const quint32 peer4 = peer.toIPv4Address(&peerIsV4);
    const quint32 local4 = local.toIPv4Address(&localIsV4);
    // The service listens on IPv4 only.
    if (!peerIsV4 || !localIsV4)
        return std::nullopt;
    bool answered = false;
    const auto owner = ownerFromNetlink(peer4, peerPort, local4, localPort, answered);
    // The text table lists every socket, closed ones included: read only when netlink is missing.
    return answered ? owner : ownerFromProcTable(peer4, peerPort, local4, localPort);
}

std::uint32_t PeerUser::currentUser()
{
    return ::geteuid();
}

#else

bool PeerUser::supported()
{
    return false;
}

std::optional<std::uint32_t> PeerUser::ownerOf(const QHostAddress &, quint16, const QHostAddress &, quint16)
{
    return std::nullopt;
}

std::uint32_t PeerUser::currentUser()
{
    return 0;
}

#endif
