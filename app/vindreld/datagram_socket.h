// One datagram read off a UDP port together with where it arrived: both
// ports must tell which interface, and which of our addresses, a datagram
// came in on, since only the interfaces served are answered.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace vindrel::daemon {

struct ArrivedDatagram {
    std::size_t size = 0;
    bool truncated = false;         // longer than the buffer: cut
    bool ipv4 = false;              // from an IPv4 sender (the rest is none of ours)
    std::uint32_t source = 0;       // host byte order
    std::uint16_t port = 0;
    unsigned interface_index = 0;   // 0: the system did not say
    std::uint32_t destination = 0;  // the address it was sent to, host byte order
};

// Reads one datagram into `buffer` without waiting; none when nothing is
// waiting (or the socket reports an error, such as an ICMP error of an
// earlier send). The socket needs IP_PKTINFO set.
std::optional<ArrivedDatagram> ReceiveDatagram(int fd, std::span<std::uint8_t> buffer);

}  // namespace vindrel::daemon
