// The in-process LAN's sockets: datagrams answered at once, streams that
// speak the session and message protocol or misbehave as scripted.
#include "tests/netbios/fake_lan.h"

#include "netbios/codec/smb_message.h"

namespace vindrel::netbios::fake {
namespace {

class FakeUdp final : public net::UdpSocket {
public:
    explicit FakeUdp(FakeLan& lan) : lan_(lan) {}

    bool SendTo(std::span<const std::uint8_t> data, net::Ipv4 to, std::uint16_t port) override
    {
        if (port != kNameServicePort || data.size() < 50) return true;
        Reader r(ByteView(data).subspan(12));
        RawName asked{};
        if (!DecodeName(r, asked)) return true;
        const std::uint16_t id = static_cast<std::uint16_t>(data[0] << 8 | data[1]);
        const bool status = data[47] == 0x21;
        const bool broadcast = (data[3] & 0x10) != 0;
        const auto answer = [&](net::Datagram from, Bytes payload) {
            queue_.push_back({from, std::move(payload)});
        };
        if (status) {
            if (const FakeHost* h = lan_.HostAt(to)) {
                std::vector<NodeName> names;
                if (!h->name.empty()) names.push_back({NameOf(h->name), 0x0400});
                for (const auto& alias : h->aliases) names.push_back({NameOf(alias), 0x0400});
                if (!h->name.empty()) names.push_back({NameOf(h->name, kWorkstationSuffix), 0x0400});
                answer({h->address, kNameServicePort, 0}, NodeStatusReply(id, names));
            }
            return true;
        }
        if (!broadcast) {
            if (lan_.server_answers) lan_.server_answers(id, asked, to, answer);
            return true;
        }
        const bool wildcard = asked == WildcardName();
        for (const FakeHost& h : lan_.hosts)
            if (wildcard || NameOf(h.name) == asked)
                answer({h.address, kNameServicePort, 0}, AddressAnswer(id, asked, h.address));
        if (lan_.extra_answers) lan_.extra_answers(id, asked, answer);
        return true;
    }

    std::optional<net::Datagram> Receive(std::span<std::uint8_t> buffer,
                                         net::Deadline deadline) override
    {
        if (net::Clock::now() >= deadline) return std::nullopt;
        if (queue_.empty()) {
            std::this_thread::sleep_until(deadline);
            return std::nullopt;
        }
        auto [from, payload] = std::move(queue_.front());
        queue_.pop_front();
        from.size = std::min(payload.size(), buffer.size());
        std::memcpy(buffer.data(), payload.data(), from.size);
        return from;
    }

private:
    FakeLan& lan_;
    std::deque<std::pair<net::Datagram, Bytes>> queue_;
};

Bytes Frame(std::uint8_t type, const Bytes& body)
{
    Bytes out = {type, 0, static_cast<std::uint8_t>(body.size() >> 8),
                 static_cast<std::uint8_t>(body.size())};
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

Bytes SmbReply(ByteView request, bool with_group)
{
    Bytes body = {0xFF, 'S', 'M', 'B', request[4], 0, 0, 0, 0, 0x80};
    body.resize(30, 0);
    body.push_back(request[30]);
    body.push_back(request[31]);
    if (with_group) body.insert(body.end(), {1, 7, 0});
    else body.push_back(0);
    body.insert(body.end(), {0, 0});
    return Frame(kSessionMessage, body);
}

class FakeStream final : public net::TcpStream {
public:
    FakeStream(FakeLan& lan, const FakeHost& host) : lan_(lan), host_(host) {}

    bool WriteAll(std::span<const std::uint8_t> data, net::Deadline deadline) override
    {
        if (net::Clock::now() >= deadline || data.size() < 4) return false;
        const ByteView body = ByteView(data).subspan(4);
        if (data[0] == kSessionRequest) {
            Reader r(body);
            RawName called{};
            DecodeName(r, called);
            if (host_.peer == Peer::kKeepAlives || host_.peer == Peer::kStalls) return true;
            if (host_.peer == Peer::kNameNotPresent ||
                (called != NameOf(host_.name) && !host_.any_called_name)) {
                Queue({kNegativeResponse, 0, 0, 1, 0x82});
                return true;
            }
            called_ = called;
            Queue({kPositiveResponse, 0, 0, 0});
            return true;
        }
        if (host_.peer != Peer::kReceiver || body.size() < 32) return true;
        const std::uint8_t command = body[4];
        if (command == kSendEndMb) {
            const std::lock_guard<std::mutex> hold(lan_.lock);
            ++lan_.copies[host_.name];
        }
        Queue(SmbReply(body, command == kSendStartMb));
        return true;
    }

    std::size_t ReadSome(std::span<std::uint8_t> buffer, net::Deadline deadline) override
    {
        const bool flooding = host_.peer == Peer::kKeepAlives ||
                              (host_.peer == Peer::kKeepAlivesAfterSession && answered_);
        if (pending_.empty() && flooding) {
            // Data always queued: the worst a peer can do to a reader that
            // does not bound keep-alives. The deadline is not looked at.
            const std::uint8_t keepalive[] = {kKeepAlive, 0, 0, 0};
            const std::size_t n = std::min(buffer.size(), sizeof keepalive);
            std::memcpy(buffer.data(), keepalive, n);
            return n;
        }
        if (net::Clock::now() >= deadline) return 0;
        if (pending_.empty()) {
            std::this_thread::sleep_until(deadline);
            return 0;
        }
        const std::size_t n = std::min(buffer.size(), pending_.size());
        std::memcpy(buffer.data(), pending_.data(), n);
        pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(n));
        if (pending_.empty()) answered_ = true;
        return n;
    }

private:
    void Queue(const Bytes& bytes)
    {
        for (int i = 0; i < host_.keepalives; ++i) pending_.insert(pending_.end(), {kKeepAlive, 0, 0, 0});
        pending_.insert(pending_.end(), bytes.begin(), bytes.end());
    }

    FakeLan& lan_;
    const FakeHost& host_;
    RawName called_{};
    Bytes pending_;
    bool answered_ = false;
};

}  // namespace

std::unique_ptr<net::UdpSocket> FakeLan::OpenUdp()
{
    ++sockets;
    return std::make_unique<FakeUdp>(*this);
}

std::unique_ptr<net::TcpStream> FakeLan::Connect(net::Ipv4 address, std::uint16_t port,
                                                 net::Deadline deadline)
{
    ++connects;
    const FakeHost* host = HostAt(address);
    if (port != kSessionPort || host == nullptr || host->peer == Peer::kRefuses ||
        net::Clock::now() >= deadline)
        return nullptr;
    return std::make_unique<FakeStream>(*this, *host);
}

}  // namespace vindrel::netbios::fake
