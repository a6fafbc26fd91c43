// recvmsg with IP_PKTINFO in, sendmsg with a chosen source address out.
#include "app/vindreld/name_service_port.h"

#include <arpa/inet.h>
#include <errno.h>
#include <netinet/in.h>
#include <sys/epoll.h>
#include <sys/socket.h>

#include <cstring>

namespace vindrel::daemon {

NameServicePort::NameServicePort(EventLoop& loop, int fd, netbios::NameServer& server,
                                 std::vector<ServedInterface> interfaces,
                                 std::function<void()> after)
    : loop_(loop), fd_(fd), server_(server), interfaces_(std::move(interfaces)),
      after_(std::move(after))
{
    loop_.Add(fd_, EPOLLIN, this);
}

NameServicePort::~NameServicePort() { loop_.Remove(fd_); }

void NameServicePort::OnReady(std::uint32_t)
{
    for (int i = 0; i < kDatagramsPerTurn; ++i) {
        // Name service datagrams are a few hundred bytes at most; a longer
        // one is cut and then refused by the parser.
        std::uint8_t buffer[1024];
        sockaddr_in from{};
        alignas(cmsghdr) char control[CMSG_SPACE(sizeof(in_pktinfo))];
        iovec iov{buffer, sizeof buffer};
        msghdr msg{};
        msg.msg_name = &from;
        msg.msg_namelen = sizeof from;
        msg.msg_iov = &iov;
        msg.msg_iovlen = 1;
        msg.msg_control = control;
        msg.msg_controllen = sizeof control;
        const ssize_t n = recvmsg(fd_, &msg, MSG_DONTWAIT);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) break;  // none left (or an ICMP error of an earlier send)
        unsigned index = 0;
        for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c != nullptr; c = CMSG_NXTHDR(&msg, c))
            if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_PKTINFO) {
                in_pktinfo info{};
                std::memcpy(&info, CMSG_DATA(c), sizeof info);
                index = static_cast<unsigned>(info.ipi_ifindex);
            }
        // Only what arrived on a served interface; the rest is not for us.
        const ServedInterface* on = nullptr;
        for (const ServedInterface& s : interfaces_)
            if (s.index == index) on = &s;
        if (on == nullptr || from.sin_family != AF_INET) continue;
        server_.OnDatagram({buffer, static_cast<std::size_t>(n)}, ntohl(from.sin_addr.s_addr),
                           ntohs(from.sin_port), on->lan.address, Clock::now());
    }
    after_();
}

void NameServicePort::SendOutgoing()
{
    for (const netbios::OutgoingDatagram& d : server_.TakeOutgoing()) {
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_addr.s_addr = htonl(d.address);
        to.sin_port = htons(d.port);
        iovec iov{const_cast<std::uint8_t*>(d.bytes.data()), d.bytes.size()};
        alignas(cmsghdr) char control[CMSG_SPACE(sizeof(in_pktinfo))] = {};
        msghdr msg{};
        msg.msg_name = &to;
        msg.msg_namelen = sizeof to;
        msg.msg_iov = &iov;
        msg.msg_iovlen = 1;
        if (d.from != 0) {
            // From our address on that LAN, so the peer sees the address
            // the name is registered at.
            msg.msg_control = control;
            msg.msg_controllen = sizeof control;
            cmsghdr* c = CMSG_FIRSTHDR(&msg);
            c->cmsg_level = IPPROTO_IP;
            c->cmsg_type = IP_PKTINFO;
            c->cmsg_len = CMSG_LEN(sizeof(in_pktinfo));
            in_pktinfo info{};
            info.ipi_spec_dst.s_addr = htonl(d.from);
            std::memcpy(CMSG_DATA(c), &info, sizeof info);
        }
        // A datagram the system refuses is one lost on the way; the name
        // service's retries cover it.
        sendmsg(fd_, &msg, MSG_DONTWAIT);
    }
}

}  // namespace vindrel::daemon
