// The network seam on Winsock: adapters and WINS servers from GetAdaptersInfo,
// non-blocking sockets that try first and wait with select only when they
// must, never past the caller's deadline,
// the computer name from GetComputerNameW and the OEM code page.
#include "platform/network.h"

#include "platform/ipv4_text.h"
#include "platform/win32/network_calls.h"
#include "platform/win32/oem_code_page.h"
#include "platform/win32/wide.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <mutex>
#include <optional>
#include <string_view>
#include <vector>

namespace vindrel::net {
namespace {

using win32::WinsockCalls;

// Whole addresses as the seam has them (host order) and as dotted text.
Ipv4 FromNetworkOrder(std::uint32_t a)
{
    const auto* b = reinterpret_cast<const std::uint8_t*>(&a);
    return (Ipv4{b[0]} << 24) | (Ipv4{b[1]} << 16) | (Ipv4{b[2]} << 8) | b[3];
}

std::uint32_t ToNetworkOrder(Ipv4 a)
{
    const std::uint8_t b[4] = {static_cast<std::uint8_t>(a >> 24), static_cast<std::uint8_t>(a >> 16),
                               static_cast<std::uint8_t>(a >> 8), static_cast<std::uint8_t>(a)};
    std::uint32_t out;
    std::memcpy(&out, b, sizeof out);
    return out;
}

std::uint16_t PortToNetworkOrder(std::uint16_t port)
{
    const std::uint8_t b[2] = {static_cast<std::uint8_t>(port >> 8), static_cast<std::uint8_t>(port)};
    std::uint16_t out;
    std::memcpy(&out, b, sizeof out);
    return out;
}

std::uint16_t PortFromNetworkOrder(std::uint16_t port)
{
    const auto* b = reinterpret_cast<const std::uint8_t*>(&port);
    return static_cast<std::uint16_t>((b[0] << 8) | b[1]);
}

sockaddr_in Endpoint(Ipv4 address, std::uint16_t port)
{
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = ToNetworkOrder(address);
    sa.sin_port = PortToNetworkOrder(port);
    return sa;
}

// An address as IP Helper writes it, "a.b.c.d" in at most 16 bytes; none for
// anything else, "0.0.0.0" included (an adapter without an address, or an
// unset WINS server).
std::optional<Ipv4> AddressOf(const IP_ADDRESS_STRING& text)
{
    const void* end = std::memchr(text.String, '\0', sizeof text.String);
    const std::size_t size = end ? static_cast<const char*>(end) - text.String : sizeof text.String;
    const auto address = ParseDottedIpv4(std::string_view(text.String, size));
    if (!address || *address == 0) return std::nullopt;
    return address;
}

// Why a wait ended.
enum class Ready { kReady, kFailed, kTimedOut };

// Waits on one socket until it is ready for `writing` (else reading) or the
// deadline passes. The deadline is checked before every wait; select's
// timeout is the time left, cut down, never up, to whole microseconds.
Ready WaitFor(const WinsockCalls& w, SOCKET s, bool writing, Deadline deadline)
{
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::microseconds>(deadline - Clock::now());
        if (left.count() <= 0) return Ready::kTimedOut;
        const long long capped = std::min<long long>(left.count(), 60'000'000);
        timeval timeout{static_cast<long>(capped / 1'000'000), static_cast<long>(capped % 1'000'000)};
        fd_set ready, failed;
        ready.fd_count = failed.fd_count = 1;
        ready.fd_array[0] = failed.fd_array[0] = s;
        // A connect that fails shows in the exception set, not the write set.
        const int n = w.select(0, writing ? nullptr : &ready, writing ? &ready : nullptr,
                               writing ? &failed : nullptr, &timeout);
        if (n == SOCKET_ERROR) return Ready::kFailed;
        if (n == 0) continue;  // the loop's check ends it at the deadline
        if (writing && failed.fd_count > 0) return Ready::kFailed;
        return Ready::kReady;
    }
}

class Socket {
public:
    Socket(const WinsockCalls& w, SOCKET s) : w_(w), s_(s) {}
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;
    ~Socket()
    {
        if (s_ != INVALID_SOCKET) w_.close(s_);
    }
    SOCKET get() const { return s_; }
    bool valid() const { return s_ != INVALID_SOCKET; }
    bool MakeNonBlocking()
    {
        u_long on = 1;
        return w_.ioctl(s_, FIONBIO, &on) == 0;
    }

private:
    const WinsockCalls& w_;
    SOCKET s_;
};

class WinsockUdp final : public UdpSocket {
public:
    WinsockUdp(const WinsockCalls& w, SOCKET s) : w_(w), s_(w, s) {}

    bool Open()
    {
        const BOOL on = TRUE;
        const sockaddr_in any = Endpoint(0, 0);
        return s_.valid() && s_.MakeNonBlocking() &&
               w_.setsockopt(s_.get(), SOL_SOCKET, SO_BROADCAST, reinterpret_cast<const char*>(&on),
                             sizeof on) == 0 &&
               w_.bind(s_.get(), reinterpret_cast<const sockaddr*>(&any), sizeof any) == 0;
    }

    bool SendTo(std::span<const std::uint8_t> data, Ipv4 address, std::uint16_t port) override
    {
        const sockaddr_in to = Endpoint(address, port);
        return w_.sendto(s_.get(), reinterpret_cast<const char*>(data.data()), static_cast<int>(data.size()), 0,
                         reinterpret_cast<const sockaddr*>(&to), sizeof to) == static_cast<int>(data.size());
    }

    std::optional<Datagram> Receive(std::span<std::uint8_t> buffer, Deadline deadline) override
    {
        for (;;) {
            if (Clock::now() >= deadline) return std::nullopt;
            sockaddr_in from{};
            int from_size = sizeof from;
            const int n = w_.recvfrom(s_.get(), reinterpret_cast<char*>(buffer.data()),
                                      static_cast<int>(buffer.size()), 0, reinterpret_cast<sockaddr*>(&from),
                                      &from_size);
            std::size_t size = static_cast<std::size_t>(n);
            if (n == SOCKET_ERROR) {
                const int error = w_.last_error();
                if (error == WSAEWOULDBLOCK) {
                    if (WaitFor(w_, s_.get(), false, deadline) != Ready::kReady) return std::nullopt;
                    continue;
                }
                // Windows reports an ICMP "port unreachable" for an earlier
                // datagram on the next receive; it says nothing about the
                // answers still to come.
                if (error == WSAECONNRESET || error == WSAENETRESET) continue;
                if (error != WSAEMSGSIZE) return std::nullopt;
                size = buffer.size();  // cut to the buffer, as the seam says
            }
            return Datagram{FromNetworkOrder(from.sin_addr.s_addr), PortFromNetworkOrder(from.sin_port), size};
        }
    }

private:
    const WinsockCalls& w_;
    Socket s_;
};

class WinsockTcp final : public TcpStream {
public:
    WinsockTcp(const WinsockCalls& w, SOCKET s) : w_(w), s_(w, s) {}

    bool Connect(Ipv4 address, std::uint16_t port, Deadline deadline)
    {
        if (!s_.valid() || !s_.MakeNonBlocking()) return false;
        const sockaddr_in to = Endpoint(address, port);
        if (w_.connect(s_.get(), reinterpret_cast<const sockaddr*>(&to), sizeof to) == 0) return true;
        if (w_.last_error() != WSAEWOULDBLOCK) return false;
        if (WaitFor(w_, s_.get(), true, deadline) != Ready::kReady) return false;
        int error = 0;
        int size = sizeof error;
        return w_.getsockopt(s_.get(), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &size) == 0 &&
               error == 0;
    }

    bool WriteAll(std::span<const std::uint8_t> data, Deadline deadline) override
    {
        std::size_t done = 0;
        while (done < data.size()) {
            if (Clock::now() >= deadline) return false;
            const int chunk = static_cast<int>(std::min<std::size_t>(data.size() - done, 1 << 20));
            const int n = w_.send(s_.get(), reinterpret_cast<const char*>(data.data() + done), chunk, 0);
            if (n == SOCKET_ERROR) {
                if (w_.last_error() != WSAEWOULDBLOCK) return false;
                if (WaitFor(w_, s_.get(), true, deadline) != Ready::kReady) return false;
                continue;
            }
            done += static_cast<std::size_t>(n);
        }
        return true;
    }

    std::size_t ReadSome(std::span<std::uint8_t> buffer, Deadline deadline) override
    {
        if (buffer.empty()) return 0;
        for (;;) {
            if (Clock::now() >= deadline) return 0;
            const int chunk = static_cast<int>(std::min<std::size_t>(buffer.size(), 1 << 20));
            const int n = w_.recv(s_.get(), reinterpret_cast<char*>(buffer.data()), chunk, 0);
            if (n > 0) return static_cast<std::size_t>(n);
            if (n == 0 || w_.last_error() != WSAEWOULDBLOCK) return 0;  // closed, or an error
            if (WaitFor(w_, s_.get(), false, deadline) != Ready::kReady) return 0;
        }
    }

private:
    const WinsockCalls& w_;
    Socket s_;
};

// The adapter list as GetAdaptersInfo gives it; empty when it fails.
std::vector<unsigned char> AdapterList(const win32::IpHelperCalls& h)
{
    std::vector<unsigned char> buffer(16 * 1024);
    for (int attempt = 0; attempt < 4; ++attempt) {
        ULONG size = static_cast<ULONG>(buffer.size());
        const DWORD rc = h.get_adapters_info(reinterpret_cast<IP_ADAPTER_INFO*>(buffer.data()), &size);
        if (rc == ERROR_SUCCESS) return buffer;
        // An adapter may come between two calls: ask again with the size
        // the system asked for.
        if (rc != ERROR_BUFFER_OVERFLOW) return {};
        buffer.resize(size);
    }
    return {};
}

template <typename Visit>
void ForEachAdapter(Visit visit)
{
    const win32::IpHelperCalls* h = win32::IpHelper();
    if (h == nullptr) return;
    std::vector<unsigned char> list = AdapterList(*h);
    if (list.empty()) return;
    for (const IP_ADAPTER_INFO* a = reinterpret_cast<const IP_ADAPTER_INFO*>(list.data()); a != nullptr;
         a = a->Next)
        visit(*h, *a);
}

bool AdapterIsUp(const win32::IpHelperCalls& h, const IP_ADAPTER_INFO& a)
{
    if (a.Type == MIB_IF_TYPE_LOOPBACK) return false;
    MIB_IFROW row{};
    row.dwIndex = a.Index;
    // Where the system cannot say, an adapter that has an address counts
    // as up.
    if (h.get_if_entry(&row) != NO_ERROR) return true;
    return row.dwOperStatus == MIB_IF_OPER_STATUS_CONNECTED ||
           row.dwOperStatus == MIB_IF_OPER_STATUS_OPERATIONAL;
}

void AddOnce(std::vector<Ipv4>& list, Ipv4 address)
{
    if (std::find(list.begin(), list.end(), address) == list.end()) list.push_back(address);
}

// What the adapters say: the interfaces and the WINS servers, primary ones
// first, from one GetAdaptersInfo reading.
struct Adapters {
    std::vector<Interface> interfaces;
    std::vector<Ipv4> wins;
};

Adapters ReadAdapters()
{
    Adapters out;
    std::vector<Ipv4> secondary;
    ForEachAdapter([&](const win32::IpHelperCalls& h, const IP_ADAPTER_INFO& a) {
        if (!AdapterIsUp(h, a)) return;
        for (const IP_ADDR_STRING* ip = &a.IpAddressList; ip != nullptr; ip = ip->Next) {
            const auto address = AddressOf(ip->IpAddress);
            const auto mask = AddressOf(ip->IpMask);
            if (!address || !mask || (*address >> 24) == 127) continue;
            const Interface i{*address, *mask, *address | ~*mask};
            const bool listed = std::any_of(out.interfaces.begin(), out.interfaces.end(), [&](const Interface& o) {
                return o.address == i.address && o.netmask == i.netmask;
            });
            if (!listed) out.interfaces.push_back(i);
        }
        if (!a.HaveWins) return;
        if (const auto p = AddressOf(a.PrimaryWinsServer.IpAddress)) AddOnce(out.wins, *p);
        if (const auto s = AddressOf(a.SecondaryWinsServer.IpAddress)) AddOnce(secondary, *s);
    });
    for (const Ipv4 s : secondary) AddOnce(out.wins, s);
    return out;
}

class WinsockNetwork final : public Network {
public:
    std::vector<Interface> Interfaces() override { return Current().interfaces; }

    std::vector<Ipv4> WinsServers() override { return Current().wins; }

    std::unique_ptr<UdpSocket> OpenUdp() override
    {
        const WinsockCalls* w = win32::Winsock();
        if (w == nullptr) return nullptr;
        auto udp = std::make_unique<WinsockUdp>(*w, w->socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP));
        if (!udp->Open()) return nullptr;
        return udp;
    }

    std::unique_ptr<TcpStream> Connect(Ipv4 address, std::uint16_t port, Deadline deadline) override
    {
        const WinsockCalls* w = win32::Winsock();
        if (w == nullptr || Clock::now() >= deadline) return nullptr;
        auto tcp = std::make_unique<WinsockTcp>(*w, w->socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
        if (!tcp->Connect(address, port, deadline)) return nullptr;
        return tcp;
    }

    std::u16string ComputerName() override
    {
        // Read wide: in the ANSI code page a name with accents may not fit
        // the 16 bytes the call allows (UTF-8 takes two or three bytes a
        // character), and the client writes it in the LAN's code page anyway.
        wchar_t name[64] = {};
        DWORD size = std::size(name);
        if (!GetComputerNameW(name, &size) || size >= std::size(name)) return {};
        return win32::Utf16(std::wstring_view(name, size));
    }

    std::shared_ptr<const CodePage> OemCodePage(std::string_view) override
    {
        // Windows hosts speak the system's OEM code page; there is no Samba
        // configuration here to say otherwise.
        static const std::shared_ptr<const CodePage> page = win32::MakeCodePage(win32::LanCodePage());
        return page;
    }

private:
    // Reading the adapters takes milliseconds (more under Wine, and on hosts
    // with many adapters), and a dispatch asks for them twice per recipient:
    // one reading serves for a second.
    Adapters Current()
    {
        const std::lock_guard<std::mutex> hold(lock_);
        const auto now = Clock::now();
        if (!read_ || now - *read_ >= std::chrono::seconds(1)) {
            adapters_ = ReadAdapters();
            read_ = now;
        }
        return adapters_;
    }

    std::mutex lock_;
    std::optional<Clock::time_point> read_;
    Adapters adapters_;
};

}  // namespace

std::unique_ptr<Network> MakeSystemNetwork()
{
    return std::make_unique<WinsockNetwork>();
}

}  // namespace vindrel::net
