// The network seam: what the NetBIOS messenger client needs from the system
// (IPv4 interfaces, WINS servers, UDP and TCP sockets with deadlines, this
// computer's name and the LAN's DOS code page), in the client's own terms.
// The protocol code in netbios/ sees only this header; each backend
// (platform/posix, platform/win32) supplies MakeSystemNetwork().
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace vindrel::net {

// IPv4 addresses are in host byte order everywhere on this seam.
using Ipv4 = std::uint32_t;

// Every wait takes one absolute time. An implementation checks it before
// every wait: once it has passed, the call ends at once with nothing, even
// when data is queued (a passed deadline never means "poll without waiting").
using Clock = std::chrono::steady_clock;
using Deadline = Clock::time_point;

// One IPv4 interface that is up, is not loopback and has a broadcast address.
struct Interface {
    Ipv4 address = 0;
    Ipv4 netmask = 0;
    Ipv4 broadcast = 0;
};

// True when `a` is a host address of the interface's subnet: inside the
// subnet, neither its network nor its broadcast address. A /31 or /32 has no
// host address in this sense; such links carry no NetBIOS broadcasts.
inline bool IsHostOfSubnet(const Interface& i, Ipv4 a)
{
    const Ipv4 network = i.address & i.netmask;
    const Ipv4 broadcast = network | ~i.netmask;
    return (a & i.netmask) == network && a != network && a != broadcast &&
           i.netmask != 0 && (~i.netmask) > 1;
}

// What Receive() stored: `size` bytes at the start of the caller's buffer.
struct Datagram {
    Ipv4 source = 0;
    std::uint16_t port = 0;
    std::size_t size = 0;
};

// A UDP socket bound to an ephemeral port on every interface, with sending
// to broadcast addresses allowed. Used by one thread at a time.
class UdpSocket {
public:
    virtual ~UdpSocket() = default;

    // Sends one datagram; false when the system refused it (the caller
    // treats that as a datagram lost on the way).
    virtual bool SendTo(std::span<const std::uint8_t> data, Ipv4 address,
                        std::uint16_t port) = 0;

    // The next datagram that arrives before `deadline`, or none once the
    // deadline has passed (checked before every wait) or on a socket error.
    // A datagram larger than `buffer` is cut to it.
    virtual std::optional<Datagram> Receive(std::span<std::uint8_t> buffer,
                                            Deadline deadline) = 0;

    // Asks the system to queue at least `bytes` of arriving datagrams, for a
    // burst of answers that comes faster than they are read. The system may
    // grant less; a socket that cannot be sized keeps its own buffer.
    virtual void ReserveReceiveBuffer(std::size_t bytes) { (void)bytes; }
};

// A connected TCP stream. Used by one thread at a time; closed on destruction.
class TcpStream {
public:
    virtual ~TcpStream() = default;

    // Writes every byte before `deadline`; false on error, a closed peer or
    // the deadline (the stream is then of no further use).
    virtual bool WriteAll(std::span<const std::uint8_t> data, Deadline deadline) = 0;

    // Reads what has arrived, at most `buffer.size()` bytes, waiting until
    // `deadline` for the first. 0 when the peer closed, on error, or once the
    // deadline has passed (checked before every wait).
    virtual std::size_t ReadSome(std::span<std::uint8_t> buffer, Deadline deadline) = 0;
};

// The conversion between UTF-16 and the DOS code page that the LAN's names
// and message texts travel in. Safe to use from several threads at once.
class CodePage {
public:
    virtual ~CodePage() = default;

    // A name converts whole or not at all: a name with a substituted
    // character would name someone else.
    virtual std::optional<std::string> EncodeName(std::u16string_view name) const = 0;

    // Message text: every character the code page lacks becomes one "?"
    // (a surrogate pair counts as one character).
    virtual std::string EncodeText(std::u16string_view text) const = 0;

    // Names as a peer lists them (node status); a byte the code page does
    // not define becomes U+FFFD, which no name accepts.
    virtual std::u16string Decode(std::string_view bytes) const = 0;
};

// The system's network as the messenger client uses it. Every member may be
// called from several threads at once (hosts are served concurrently).
class Network {
public:
    virtual ~Network() = default;

    // The IPv4 interfaces that are up and not loopback, with address, netmask
    // and broadcast address; each listed once. Empty when there are none.
    virtual std::vector<Interface> Interfaces() = 0;

    // The WINS servers the system's adapters name, primary first. POSIX
    // systems answer none: the Samba configuration names its own.
    virtual std::vector<Ipv4> WinsServers() = 0;

    // A new UDP socket (see UdpSocket), or none when the system refuses one.
    virtual std::unique_ptr<UdpSocket> OpenUdp() = 0;

    // A TCP connection to `address`:`port` made without blocking past
    // `deadline`; none when refused, unreachable or late.
    virtual std::unique_ptr<TcpStream> Connect(Ipv4 address, std::uint16_t port,
                                               Deadline deadline) = 0;

    // This computer's name as the system knows it, not yet a NetBIOS name:
    // the host name's first label on POSIX, GetComputerNameW's answer on
    // Windows. Empty when unknown.
    virtual std::u16string ComputerName() = 0;

    // The LAN's DOS code page. `dos_charset` is Samba's `dos charset`
    // setting when one is configured (empty otherwise); POSIX converts with
    // iconv and falls back to CP850 when it is empty or unknown. Windows uses
    // the system's OEM code page and may ignore it.
    virtual std::shared_ptr<const CodePage> OemCodePage(std::string_view dos_charset) = 0;
};

// The system's network through the linked backend's sockets.
std::unique_ptr<Network> MakeSystemNetwork();

}  // namespace vindrel::net
