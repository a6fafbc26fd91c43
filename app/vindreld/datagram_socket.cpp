// recvmsg with IP_PKTINFO.
#include "app/vindreld/datagram_socket.h"

#include <arpa/inet.h>
#include <errno.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstring>

namespace vindrel::daemon {

std::optional<ArrivedDatagram> ReceiveDatagram(int fd, std::span<std::uint8_t> buffer)
{
    for (;;) {
        sockaddr_in from{};
        alignas(cmsghdr) char control[CMSG_SPACE(sizeof(in_pktinfo))];
        iovec iov{buffer.data(), buffer.size()};
        msghdr msg{};
        msg.msg_name = &from;
        msg.msg_namelen = sizeof from;
        msg.msg_iov = &iov;
        msg.msg_iovlen = 1;
        msg.msg_control = control;
        msg.msg_controllen = sizeof control;
        const ssize_t n = recvmsg(fd, &msg, MSG_DONTWAIT);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return std::nullopt;
        ArrivedDatagram d;
        d.size = static_cast<std::size_t>(n);
        d.truncated = (msg.msg_flags & MSG_TRUNC) != 0;
        d.ipv4 = from.sin_family == AF_INET;
        d.source = ntohl(from.sin_addr.s_addr);
        d.port = ntohs(from.sin_port);
        for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c != nullptr; c = CMSG_NXTHDR(&msg, c))
            if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_PKTINFO) {
                in_pktinfo info{};
                std::memcpy(&info, CMSG_DATA(c), sizeof info);
                d.interface_index = static_cast<unsigned>(info.ipi_ifindex);
                d.destination = ntohl(info.ipi_addr.s_addr);
            }
        return d;
    }
}

}  // namespace vindrel::daemon
