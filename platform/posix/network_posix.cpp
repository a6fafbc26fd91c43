// The network seam on POSIX systems: BSD sockets polled against deadlines,
// the interface list from getifaddrs and the host name.
#include <arpa/inet.h>
#include <errno.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <utility>

#include "platform/network.h"
#include "platform/posix/iconv_code_page.h"
#include "platform/utf8.h"

namespace vindrel::net {
namespace {

class Fd {
public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    Fd(Fd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    Fd& operator=(Fd&& other) noexcept
    {
        std::swap(fd_, other.fd_);
        return *this;
    }
    ~Fd()
    {
        if (fd_ >= 0) close(fd_);
    }
    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }

private:
    int fd_;
};

// Waits for `events` until `deadline`. The deadline is checked before every
// wait: once it has passed this answers false without asking the socket, so
// a peer that keeps data queued cannot keep a caller reading.
bool WaitFor(int fd, short events, Deadline deadline)
{
    for (;;) {
        const auto left = deadline - Clock::now();
        if (left <= Clock::duration::zero()) return false;
        // Rounded up, so that less than a millisecond left waits rather than polls.
        const auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
        pollfd p{fd, events, 0};
        const int n = poll(&p, 1, static_cast<int>(std::min<long long>(ms, 60000)));
        if (n > 0) return true;
        if (n < 0 && errno != EINTR) return false;
    }
}

sockaddr_in Endpoint(Ipv4 address, std::uint16_t port)
{
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(address);
    sa.sin_port = htons(port);
    return sa;
}

class PosixUdpSocket final : public UdpSocket {
public:
    explicit PosixUdpSocket(Fd fd) : fd_(std::move(fd)) {}

    bool SendTo(std::span<const std::uint8_t> data, Ipv4 address, std::uint16_t port) override
    {
        const sockaddr_in to = Endpoint(address, port);
        return sendto(fd_.get(), data.data(), data.size(), MSG_DONTWAIT,
                      reinterpret_cast<const sockaddr*>(&to), sizeof to) >= 0;
    }

    std::optional<Datagram> Receive(std::span<std::uint8_t> buffer, Deadline deadline) override
    {
        while (WaitFor(fd_.get(), POLLIN, deadline)) {
            sockaddr_in from{};
            socklen_t from_size = sizeof from;
            const ssize_t n = recvfrom(fd_.get(), buffer.data(), buffer.size(), MSG_DONTWAIT,
                                       reinterpret_cast<sockaddr*>(&from), &from_size);
            if (n < 0) {
                if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) continue;
                // An ICMP error from an earlier send surfaces here; it ends
                // nothing but that datagram.
                if (errno == ECONNREFUSED || errno == EHOSTUNREACH || errno == ENETUNREACH)
                    continue;
                return std::nullopt;
            }
            return Datagram{ntohl(from.sin_addr.s_addr), ntohs(from.sin_port),
                            static_cast<std::size_t>(n)};
        }
        return std::nullopt;
    }

    void ReserveReceiveBuffer(std::size_t bytes) override
    {
        // The system doubles what it is asked for and caps it at rmem_max;
        // a privileged sender may go past that cap.
        const int want = static_cast<int>(std::min<std::size_t>(bytes, 64u << 20));
        setsockopt(fd_.get(), SOL_SOCKET, SO_RCVBUF, &want, sizeof want);
        int got = 0;
        socklen_t size = sizeof got;
        if (getsockopt(fd_.get(), SOL_SOCKET, SO_RCVBUF, &got, &size) == 0 && got / 2 < want)
            setsockopt(fd_.get(), SOL_SOCKET, SO_RCVBUFFORCE, &want, sizeof want);
    }

private:
    Fd fd_;
};

class PosixTcpStream final : public TcpStream {
public:
    explicit PosixTcpStream(Fd fd) : fd_(std::move(fd)) {}

    bool WriteAll(std::span<const std::uint8_t> data, Deadline deadline) override
    {
        std::size_t done = 0;
        while (done < data.size()) {
            if (!WaitFor(fd_.get(), POLLOUT, deadline)) return false;
            const ssize_t n = send(fd_.get(), data.data() + done, data.size() - done,
                                   MSG_NOSIGNAL | MSG_DONTWAIT);
            if (n < 0) {
                if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) continue;
                return false;
            }
            done += static_cast<std::size_t>(n);
        }
        return true;
    }

    std::size_t ReadSome(std::span<std::uint8_t> buffer, Deadline deadline) override
    {
        while (WaitFor(fd_.get(), POLLIN, deadline)) {
            const ssize_t n = recv(fd_.get(), buffer.data(), buffer.size(), MSG_DONTWAIT);
            if (n > 0) return static_cast<std::size_t>(n);
            if (n == 0) return 0;
            if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) return 0;
        }
        return 0;
    }

private:
    Fd fd_;
};

class PosixNetwork final : public Network {
public:
    std::vector<Interface> Interfaces() override
    {
        std::vector<Interface> out;
        ifaddrs* list = nullptr;
        if (getifaddrs(&list) != 0) return out;
        for (ifaddrs* i = list; i != nullptr; i = i->ifa_next) {
            if (i->ifa_addr == nullptr || i->ifa_addr->sa_family != AF_INET ||
                i->ifa_netmask == nullptr)
                continue;
            if (!(i->ifa_flags & IFF_UP) || (i->ifa_flags & IFF_LOOPBACK) ||
                !(i->ifa_flags & IFF_BROADCAST) || i->ifa_broadaddr == nullptr)
                continue;
            const auto field = [](const sockaddr* sa) {
                return ntohl(reinterpret_cast<const sockaddr_in*>(sa)->sin_addr.s_addr);
            };
            const Interface found{field(i->ifa_addr), field(i->ifa_netmask),
                                  field(i->ifa_broadaddr)};
            if (found.address == 0 || found.broadcast == 0) continue;
            if (std::none_of(out.begin(), out.end(),
                             [&](const Interface& o) { return o.address == found.address; }))
                out.push_back(found);
        }
        freeifaddrs(list);
        return out;
    }

    std::vector<Ipv4> WinsServers() override { return {}; }

    std::unique_ptr<UdpSocket> OpenUdp() override
    {
        Fd fd(socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
        if (!fd.valid()) return nullptr;
        const int on = 1;
        setsockopt(fd.get(), SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
        sockaddr_in any = Endpoint(INADDR_ANY, 0);
        if (bind(fd.get(), reinterpret_cast<sockaddr*>(&any), sizeof any) != 0) return nullptr;
        return std::make_unique<PosixUdpSocket>(std::move(fd));
    }

    std::unique_ptr<TcpStream> Connect(Ipv4 address, std::uint16_t port,
                                       Deadline deadline) override
    {
        if (Clock::now() >= deadline) return nullptr;
        Fd fd(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
        if (!fd.valid()) return nullptr;
        const sockaddr_in to = Endpoint(address, port);
        if (connect(fd.get(), reinterpret_cast<const sockaddr*>(&to), sizeof to) != 0) {
            if (errno != EINPROGRESS || !WaitFor(fd.get(), POLLOUT, deadline)) return nullptr;
            int error = 0;
            socklen_t size = sizeof error;
            if (getsockopt(fd.get(), SOL_SOCKET, SO_ERROR, &error, &size) != 0 || error != 0)
                return nullptr;
        }
        return std::make_unique<PosixTcpStream>(std::move(fd));
    }

    std::u16string ComputerName() override
    {
        char host[256] = {};
        if (gethostname(host, sizeof host - 1) != 0) return {};
        return Utf8ToUtf16(std::string_view(host).substr(0, std::strcspn(host, ".")));
    }

    std::shared_ptr<const CodePage> OemCodePage(std::string_view dos_charset) override
    {
        return MakeIconvCodePage(dos_charset);
    }
};

}  // namespace

std::unique_ptr<Network> MakeSystemNetwork()
{
    return std::make_unique<PosixNetwork>();
}

}  // namespace vindrel::net
