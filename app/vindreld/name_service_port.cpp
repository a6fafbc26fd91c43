// recvmsg with IP_PKTINFO in, sendmsg with a chosen source address out.
#include "app/vindreld/name_service_port.h"

#include <arpa/inet.h>
#include <errno.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cstring>

#include "app/vindreld/datagram_socket.h"

namespace vindrel::daemon {
namespace {

bool IsLoopback(std::uint32_t address) { return (address >> 24) == 127; }

}  // namespace

NameServicePort::NameServicePort(EventLoop& loop, int fd, netbios::NameServer& server,
                                 std::vector<ServedInterface> interfaces,
                                 std::function<void()> after)
    : loop_(loop), fd_(fd), server_(server), interfaces_(std::move(interfaces)),
      after_(std::move(after)), loopback_index_(if_nametoindex("lo"))
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
        const std::optional<ArrivedDatagram> d = ReceiveDatagram(fd_, buffer);
        if (!d) break;  // none left (or an ICMP error of an earlier send)
        // Only what arrived on a served interface; the rest is not for us.
        const ServedInterface* on = ArrivedOn(d->interface_index, d->destination);
        if (on == nullptr || !d->ipv4) continue;
        server_.OnDatagram({buffer, d->size}, d->source, d->port, on->lan.address, Clock::now());
    }
    after_();
}

const ServedInterface* NameServicePort::ArrivedOn(unsigned index, std::uint32_t destination) const
{
    const auto served = [this](auto match) -> const ServedInterface* {
        const auto at = std::find_if(interfaces_.begin(), interfaces_.end(), match);
        return at == interfaces_.end() ? nullptr : &*at;
    };
    if (index != loopback_index_ || loopback_index_ == 0)
        return served([index](const ServedInterface& s) { return s.index == index; });
    // Sent to one of our own addresses, or to 127.x, from this computer.
    if (IsLoopback(destination)) return interfaces_.empty() ? nullptr : &interfaces_.front();
    return served([destination](const ServedInterface& s) { return s.lan.address == destination; });
}

bool NameServicePort::IsOurs(const sockaddr_in& from) const
{
    const std::uint32_t address = ntohl(from.sin_addr.s_addr);
    return from.sin_family == AF_INET && ntohs(from.sin_port) == netbios::kNameServicePort &&
           std::any_of(interfaces_.begin(), interfaces_.end(),
                       [address](const ServedInterface& s) { return s.lan.address == address; });
}

int NameServicePort::SendOutgoing()
{
    int sent = 0;
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
        // An asker on loopback hears back from loopback, where it sent its
        // question.
        if (d.from != 0 && !IsLoopback(d.address)) {
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
        if (sendmsg(fd_, &msg, MSG_DONTWAIT) >= 0) ++sent;
    }
    return sent;
}

void NameServicePort::DrainReturns(int returns, Clock::time_point deadline)
{
    for (int taken = 0;;) {
        // The returns expected are waited for; any more are taken only
        // while already there.
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) return;
        pollfd ready{fd_, POLLIN, 0};
        const int n = poll(&ready, 1, taken < returns ? static_cast<int>(left.count()) : 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        // The header's id and flags: enough to tell an answer (R bit) from
        // a question.
        std::uint8_t header[3] = {};
        sockaddr_in from{};
        socklen_t size = sizeof from;
        const ssize_t n_peeked = recvfrom(fd_, header, sizeof header, MSG_PEEK | MSG_DONTWAIT,
                                          reinterpret_cast<sockaddr*>(&from), &size);
        const bool answer = n_peeked == sizeof header && (header[2] & 0x80) != 0;
        if (n_peeked < 0 || !(IsOurs(from) || answer)) return;
        recv(fd_, header, sizeof header, MSG_DONTWAIT);
        ++taken;
    }
}

}  // namespace vindrel::daemon
