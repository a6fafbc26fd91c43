// Sockets and the order of a send: resolution, session, message commands.
#include "platform/posix/netbios/messenger_client.h"

#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <utility>
#include <optional>
#include <random>
#include <string_view>
#include <vector>

#include "platform/posix/netbios/cp850.h"
#include "platform/posix/netbios/name_service.h"
#include "platform/posix/netbios/nb_name.h"
#include "platform/posix/netbios/samba_config.h"
#include "platform/posix/netbios/session.h"
#include "platform/posix/netbios/smb_message.h"

namespace vindrel::netbios {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

class Fd {
public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    Fd(Fd&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
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

int MillisLeft(Clock::time_point deadline)
{
    const auto left = std::chrono::duration_cast<milliseconds>(deadline - Clock::now()).count();
    return left <= 0 ? 0 : static_cast<int>(std::min<long long>(left, 60000));
}

bool WaitFor(int fd, short events, Clock::time_point deadline)
{
    for (;;) {
        pollfd p{fd, events, 0};
        const int n = poll(&p, 1, MillisLeft(deadline));
        if (n > 0) return true;
        if (n == 0) return false;
        if (errno != EINTR) return false;
    }
}

sockaddr_in Endpoint(std::uint32_t address, std::uint16_t port)
{
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(address);
    sa.sin_port = htons(port);
    return sa;
}

// Transaction ids start at random so that a stray answer to an earlier run
// is not taken for one to this run.
std::uint16_t NextId()
{
    static std::atomic<std::uint16_t> id{static_cast<std::uint16_t>(std::random_device{}())};
    return ++id;
}

// IPv4 broadcast addresses of the interfaces that are up, loopback aside.
std::vector<std::uint32_t> BroadcastAddresses()
{
    std::vector<std::uint32_t> out;
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) return out;
    for (ifaddrs* i = list; i != nullptr; i = i->ifa_next) {
        if (i->ifa_addr == nullptr || i->ifa_addr->sa_family != AF_INET) continue;
        if (!(i->ifa_flags & IFF_UP) || (i->ifa_flags & IFF_LOOPBACK) ||
            !(i->ifa_flags & IFF_BROADCAST) || i->ifa_broadaddr == nullptr)
            continue;
        const auto* b = reinterpret_cast<const sockaddr_in*>(i->ifa_broadaddr);
        const std::uint32_t address = ntohl(b->sin_addr.s_addr);
        if (address != 0 && std::find(out.begin(), out.end(), address) == out.end())
            out.push_back(address);
    }
    freeifaddrs(list);
    return out;
}

Fd NameServiceSocket()
{
    Fd fd(socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    if (!fd.valid()) return fd;
    const int on = 1;
    setsockopt(fd.get(), SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
    sockaddr_in any = Endpoint(INADDR_ANY, 0);
    if (bind(fd.get(), reinterpret_cast<sockaddr*>(&any), sizeof any) != 0) return Fd();
    return fd;
}

void SendDatagram(int fd, const Bytes& packet, std::uint32_t address)
{
    const sockaddr_in to = Endpoint(address, kNameServicePort);
    sendto(fd, packet.data(), packet.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
}

// Waits until `deadline` for datagrams, handing each to `take` with its
// sender; stops early when `take` returns true.
template <typename Take>
bool ReceiveUntil(int fd, Clock::time_point deadline, Take take)
{
    std::uint8_t buffer[1500];
    while (WaitFor(fd, POLLIN, deadline)) {
        sockaddr_in from{};
        socklen_t from_size = sizeof from;
        const ssize_t n = recvfrom(fd, buffer, sizeof buffer, MSG_DONTWAIT,
                                   reinterpret_cast<sockaddr*>(&from), &from_size);
        if (n < 0) {
            if (errno == EAGAIN || errno == EINTR) continue;
            return false;
        }
        if (take(ByteView(buffer, static_cast<std::size_t>(n)), ntohl(from.sin_addr.s_addr)))
            return true;
    }
    return false;
}

struct Sender {
    RawName calling;         // this computer's name <00>
    std::string originator;  // OEM
};

class Session {
public:
    explicit Session(Clock::time_point deadline) : deadline_(deadline) {}

    bool Connect(std::uint32_t address, milliseconds limit)
    {
        fd_ = Fd(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
        if (!fd_.valid()) return false;
        const sockaddr_in to = Endpoint(address, kSessionPort);
        if (connect(fd_.get(), reinterpret_cast<const sockaddr*>(&to), sizeof to) == 0) return true;
        if (errno != EINPROGRESS) return false;
        const auto connect_deadline = std::min(deadline_, Clock::now() + limit);
        if (!WaitFor(fd_.get(), POLLOUT, connect_deadline)) return false;
        int error = 0;
        socklen_t size = sizeof error;
        return getsockopt(fd_.get(), SOL_SOCKET, SO_ERROR, &error, &size) == 0 && error == 0;
    }

    bool Write(const Bytes& data)
    {
        std::size_t done = 0;
        while (done < data.size()) {
            if (!WaitFor(fd_.get(), POLLOUT, deadline_)) return false;
            const ssize_t n = send(fd_.get(), data.data() + done, data.size() - done, MSG_NOSIGNAL);
            if (n < 0) {
                if (errno == EAGAIN || errno == EINTR) continue;
                return false;
            }
            done += static_cast<std::size_t>(n);
        }
        return true;
    }

    // The next frame other than a keep-alive. False on timeout, a closed
    // connection, or a frame too large to be a reply of ours.
    bool ReadFrame(FrameHeader& frame, Bytes& body)
    {
        for (;;) {
            std::uint8_t header[kFrameHeaderSize];
            if (!ReadExact(header, sizeof header) || !ParseFrameHeader(header, frame) ||
                frame.length > kMaxReplyFrame)
                return false;
            body.resize(frame.length);
            if (!ReadExact(body.data(), body.size())) return false;
            if (frame.type != kKeepAlive) return true;
        }
    }

private:
    bool ReadExact(std::uint8_t* out, std::size_t size)
    {
        std::size_t done = 0;
        while (done < size) {
            if (!WaitFor(fd_.get(), POLLIN, deadline_)) return false;
            const ssize_t n = recv(fd_.get(), out + done, size - done, 0);
            if (n == 0) return false;
            if (n < 0) {
                if (errno == EAGAIN || errno == EINTR) continue;
                return false;
            }
            done += static_cast<std::size_t>(n);
        }
        return true;
    }

    Clock::time_point deadline_;
    Fd fd_;
};

// One message command and its reply; the accepted reply, or none.
std::optional<SmbReply> Exchange(Session& session, const Bytes& message, std::uint8_t command,
                                 std::uint16_t mid)
{
    FrameHeader frame;
    Bytes body;
    if (!session.Write(FrameSessionMessage(message)) || !session.ReadFrame(frame, body) ||
        frame.type != kSessionMessage)
        return std::nullopt;
    const SmbReply reply = JudgeSmbReply(body, command, mid);
    if (reply.verdict != SmbVerdict::kAccepted) return std::nullopt;
    return reply;
}

NetStatus Deliver(std::uint32_t address, const RawName& called, const Sender& sender,
                  const std::string& text, const ClientLimits& limits)
{
    Session session(Clock::now() + limits.delivery);
    if (!session.Connect(address, limits.connect)) return net_status::kNetworkError;

    FrameHeader frame;
    Bytes body;
    if (!session.Write(BuildSessionRequest(called, sender.calling)) ||
        !session.ReadFrame(frame, body))
        return net_status::kNetworkError;
    switch (JudgeSessionReply(frame, body)) {
    case SessionVerdict::kPositive: break;
    case SessionVerdict::kCalledNameNotPresent: return net_status::kNameNotFound;
    case SessionVerdict::kRefused:
    case SessionVerdict::kMalformed: return net_status::kNetworkError;
    }

    // From here on the host has taken the session; whatever goes wrong now
    // is a message that was sent but not received.
    std::uint16_t mid = 1;
    const auto start = Exchange(session, BuildSendStart(mid, sender.originator, NameText(called)),
                                kSendStartMb, mid);
    if (!start) return net_status::kBadReceive;
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(text.data());
    for (std::size_t at = 0; at < text.size(); at += kMaxTextBlock) {
        ++mid;
        const ByteView block(bytes + at, std::min(kMaxTextBlock, text.size() - at));
        if (!Exchange(session, BuildSendText(mid, start->group, block), kSendTextMb, mid))
            return net_status::kBadReceive;
    }
    ++mid;
    if (!Exchange(session, BuildSendEnd(mid, start->group), kSendEndMb, mid)) return net_status::kBadReceive;
    return net_status::kSuccess;
}

std::optional<std::uint32_t> Resolve(const RawName& name, std::optional<std::uint32_t> wins,
                                     const ClientLimits& limits)
{
    Fd fd = NameServiceSocket();
    if (!fd.valid()) return std::nullopt;
    const std::uint16_t id = NextId();
    std::optional<std::uint32_t> found;

    if (wins) {
        SendDatagram(fd.get(), BuildNameQuery(id, name, false), *wins);
        ReceiveUntil(fd.get(), Clock::now() + limits.wins_wait,
                     [&](ByteView reply, std::uint32_t source) {
                         const QueryAnswer a = JudgeNameQueryReply(reply, id, name);
                         if (a.verdict == QueryVerdict::kPositive) found = a.address;
                         // Only the server asked may say that nobody has the name.
                         return found || (a.verdict == QueryVerdict::kNegative && source == *wins);
                     });
        if (found) return found;
    }

    const std::vector<std::uint32_t> broadcasts = BroadcastAddresses();
    if (broadcasts.empty()) return std::nullopt;
    const Bytes query = BuildNameQuery(id, name, true);
    for (int attempt = 0; attempt < limits.broadcast_tries; ++attempt) {
        for (const std::uint32_t b : broadcasts) SendDatagram(fd.get(), query, b);
        ReceiveUntil(fd.get(), Clock::now() + limits.broadcast_interval,
                     [&](ByteView reply, std::uint32_t) {
                         const QueryAnswer a = JudgeNameQueryReply(reply, id, name);
                         if (a.verdict == QueryVerdict::kPositive) found = a.address;
                         return found.has_value();
                     });
        if (found) return found;
    }
    return std::nullopt;
}

// Every host that answers a broadcast query for the wildcard name, in the
// order they answered.
std::vector<std::uint32_t> FindEveryone(const ClientLimits& limits)
{
    std::vector<std::uint32_t> hosts;
    Fd fd = NameServiceSocket();
    const std::vector<std::uint32_t> broadcasts = BroadcastAddresses();
    if (!fd.valid() || broadcasts.empty()) return hosts;
    const std::uint16_t id = NextId();
    const RawName wildcard = WildcardName();
    const Bytes query = BuildNameQuery(id, wildcard, true);
    for (int attempt = 0; attempt < limits.broadcast_tries; ++attempt) {
        for (const std::uint32_t b : broadcasts) SendDatagram(fd.get(), query, b);
        ReceiveUntil(fd.get(), Clock::now() + limits.broadcast_interval,
                     [&](ByteView reply, std::uint32_t) {
                         const QueryAnswer a = JudgeNameQueryReply(reply, id, wildcard);
                         if (a.verdict == QueryVerdict::kPositive &&
                             std::find(hosts.begin(), hosts.end(), a.address) == hosts.end())
                             hosts.push_back(a.address);
                         return false;
                     });
    }
    return hosts;
}

std::optional<RawName> MessengerNameOf(std::uint32_t host, const ClientLimits& limits)
{
    Fd fd = NameServiceSocket();
    if (!fd.valid()) return std::nullopt;
    const std::uint16_t id = NextId();
    const Bytes request = BuildNodeStatusRequest(id);
    std::optional<RawName> found;
    bool answered = false;
    for (int attempt = 0; attempt < 2 && !answered; ++attempt) {
        SendDatagram(fd.get(), request, host);
        ReceiveUntil(fd.get(), Clock::now() + limits.node_status_wait,
                     [&](ByteView reply, std::uint32_t source) {
                         if (source != host) return false;
                         const auto names = ParseNodeStatusReply(reply, id);
                         if (!names) return false;
                         answered = true;
                         found = FirstMessengerName(*names);
                         return true;
                     });
    }
    return found;
}

NetStatus SendToEveryone(const Sender& sender, const std::string& text,
                         const ClientLimits& limits)
{
    const std::vector<std::uint32_t> hosts = FindEveryone(limits);
    if (hosts.empty()) return net_status::kNameNotFound;
    std::optional<NetStatus> first_failure;
    bool delivered = false;
    for (const std::uint32_t host : hosts) {
        const auto name = MessengerNameOf(host, limits);
        const NetStatus status =
            name ? Deliver(host, *name, sender, text, limits) : net_status::kNameNotFound;
        if (status == net_status::kSuccess) delivered = true;
        else if (!first_failure) first_failure = status;
    }
    return delivered ? net_status::kSuccess : *first_failure;
}

// This computer's name: the configured NetBIOS name when it is one, else
// the host name's first label, cut to fit.
RawName OwnName(const SambaSettings& settings)
{
    if (!settings.netbios_name.empty())
        if (const auto name = MakeName(Utf8ToUtf16(settings.netbios_name), kWorkstationSuffix))
            return *name;
    char host[256] = {};
    gethostname(host, sizeof host - 1);
    std::u16string label = Utf8ToUtf16(std::string_view(host).substr(0, std::strcspn(host, ".")));
    for (char16_t& c : label) c = ToUpperName(c);
    std::string oem = ToOemText(label).substr(0, kNameChars);
    std::replace(oem.begin(), oem.end(), '\0', '?');
    if (oem.empty()) oem = "LOCALHOST";
    RawName raw;
    raw.fill(' ');
    std::copy(oem.begin(), oem.end(), raw.begin());
    raw[15] = kWorkstationSuffix;
    return raw;
}

}  // namespace

MessengerClient::MessengerClient(std::string config_path, ClientLimits limits)
    : config_path_(std::move(config_path)), limits_(limits)
{
}

NetStatus MessengerClient::Send(std::u16string_view name, std::u16string_view text,
                                std::u16string_view from)
{
    const SambaSettings settings = ReadSambaConfig(config_path_);
    Sender sender;
    sender.calling = OwnName(settings);

    const auto from_name = ToOemName(from);
    sender.originator = from_name && !from_name->empty() &&
                                from_name->find('\0') == std::string::npos
                            ? *from_name
                            : NameText(sender.calling);

    const std::string oem_text = ToOemText(text);
    if (name == u"*") return SendToEveryone(sender, oem_text, limits_);

    const auto messenger = MakeName(name, kMessengerSuffix);
    if (!messenger) return net_status::kNameNotFound;
    const auto address = Resolve(*messenger, settings.wins, limits_);
    if (!address) return net_status::kNameNotFound;
    return Deliver(*address, *messenger, sender, oem_text, limits_);
}

}  // namespace vindrel::netbios
