// A LAN inside the test process: a network seam whose hosts answer name
// queries, node status and sessions as scripted, and count what arrives.
// Nothing here opens a socket. Also the reply builders the codec tests share.
#pragma once

#include <atomic>
#include <chrono>
#include <cstring>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "netbios/codec/name_service.h"
#include "netbios/codec/nb_name.h"
#include "netbios/codec/session_frame.h"
#include "platform/cp850.h"
#include "platform/network.h"

namespace vindrel::netbios::fake {

inline net::Ipv4 Ip(int a, int b, int c, int d)
{
    return static_cast<net::Ipv4>(a) << 24 | static_cast<net::Ipv4>(b) << 16 |
           static_cast<net::Ipv4>(c) << 8 | static_cast<net::Ipv4>(d);
}

inline RawName NameOf(std::u16string_view text, std::uint8_t suffix = kMessengerSuffix)
{
    return MakeName(text, suffix).value_or(RawName{});
}

inline Bytes PositiveReply(std::uint16_t id, const RawName& name, ByteView rdata,
                           std::uint16_t flags = 0x8500)
{
    Writer w;
    for (const std::uint16_t v : {id, flags, std::uint16_t{0}, std::uint16_t{1},
                                  std::uint16_t{0}, std::uint16_t{0}})
        w.U16be(v);
    EncodeName(name, w);
    w.U16be(0x0020);
    w.U16be(0x0001);
    w.U16be(0);
    w.U16be(300);  // TTL
    w.U16be(static_cast<std::uint16_t>(rdata.size()));
    w.Append(rdata);
    return w.Take();
}

inline Bytes AddressAnswer(std::uint16_t id, const RawName& name, net::Ipv4 address)
{
    const std::uint8_t rdata[] = {0, 0, static_cast<std::uint8_t>(address >> 24),
                                  static_cast<std::uint8_t>(address >> 16),
                                  static_cast<std::uint8_t>(address >> 8),
                                  static_cast<std::uint8_t>(address)};
    return PositiveReply(id, name, rdata);
}

inline Bytes NodeStatusReply(std::uint16_t id, const std::vector<NodeName>& names,
                             int claimed = -1)
{
    Writer rdata;
    rdata.U8(static_cast<std::uint8_t>(claimed < 0 ? names.size() : claimed));
    for (const NodeName& n : names) {
        rdata.Append(n.name);
        rdata.U16be(n.flags);
    }
    rdata.Fill(0, 46);  // statistics
    const Bytes body = rdata.Take();
    Writer w;
    for (const std::uint16_t v : {id, std::uint16_t{0x8400}, std::uint16_t{0}, std::uint16_t{1},
                                  std::uint16_t{0}, std::uint16_t{0}})
        w.U16be(v);
    EncodeName(WildcardName(), w);
    w.U16be(0x0021);
    w.U16be(0x0001);
    w.U16be(0);
    w.U16be(0);
    w.U16be(static_cast<std::uint16_t>(body.size()));
    w.Append(body);
    return w.Take();
}

// How a host's port 139 behaves.
enum class Peer {
    kReceiver,        // takes the session and the message
    kRefuses,         // no connection
    kStalls,          // connects, then never answers the session request
    kStallsAfterSession,
    kKeepAlives,      // answers with keep-alives for ever, whatever the deadline
    kKeepAlivesAfterSession,
    kNameNotPresent,  // answers queries for its name, but its sessions say
                      // "called name not present"
};

struct FakeHost {
    net::Ipv4 address = 0;
    std::u16string name;  // its messenger name; empty: lists none in node status
    Peer peer = Peer::kReceiver;
    bool any_called_name = false;  // takes a session for any name, as smbd does
    int keepalives = 0;            // keep-alive frames sent before each reply
    std::vector<std::u16string> aliases{};  // further messenger names, listed after `name`
};

struct SentDatagram {
    Bytes data;
    net::Ipv4 to = 0;
};

class FakeLan : public net::Network {
public:
    // 10.0.0.5/24 unless a test says otherwise.
    std::vector<net::Interface> interfaces{{Ip(10, 0, 0, 5), 0xFFFFFF00, Ip(10, 0, 0, 255)}};
    // The WINS servers the adapters name, primary first.
    std::vector<net::Ipv4> wins;
    std::vector<FakeHost> hosts;
    // Extra answers to a broadcast query: (source, port, payload for query id).
    std::function<void(std::uint16_t id, const RawName& asked,
                       std::function<void(net::Datagram, Bytes)> answer)>
        extra_answers;
    // Answers to a unicast (WINS) query.
    std::function<void(std::uint16_t id, const RawName& asked, net::Ipv4 to,
                       std::function<void(net::Datagram, Bytes)> answer)>
        server_answers;

    // What happened.
    std::mutex lock;
    std::map<std::u16string, int> copies;  // messages completed, by called name
    std::atomic<int> connects{0};
    std::atomic<int> sockets{0};

    std::vector<net::Interface> Interfaces() override { return interfaces; }
    std::vector<net::Ipv4> WinsServers() override { return wins; }
    std::unique_ptr<net::UdpSocket> OpenUdp() override;
    std::unique_ptr<net::TcpStream> Connect(net::Ipv4 address, std::uint16_t port,
                                            net::Deadline deadline) override;
    std::u16string ComputerName() override { return u"tester"; }
    std::shared_ptr<const net::CodePage> OemCodePage(std::string_view) override
    {
        return std::shared_ptr<const net::CodePage>(&Cp850(), [](const net::CodePage*) {});
    }

    const FakeHost* HostAt(net::Ipv4 address) const
    {
        for (const FakeHost& h : hosts)
            if (h.address == address) return &h;
        return nullptr;
    }
};

}  // namespace vindrel::netbios::fake
