// The name service of the receiving side: claims, holds, defends, answers for
// and releases this computer's messenger names on the LAN (RFC 1002 B-node,
// and with a WINS server when one is configured). It owns no socket and reads
// no clock: the app feeds it datagrams and the time, sends what it returns,
// and calls back at NextTimer(). Nothing from the wire is believed that does
// not fit what was sent or what is held.
#pragma once

#include <cstdint>
#include <chrono>
#include <optional>
#include <vector>

#include "netbios/codec/name_service.h"
#include "netbios/codec/nb_name.h"
#include "netbios/codec/wire.h"
#include "netbios/server/server_limits.h"
#include "platform/network.h"

namespace vindrel::netbios {

struct NameServerConfig {
    // The interfaces names are claimed and answered on (address, netmask,
    // broadcast); a peer off their subnets is not believed.
    std::vector<net::Interface> interfaces;
    net::Ipv4 wins_server = 0;  // 0: no WINS server
    // Where transaction ids start; the app passes an unpredictable value so
    // that a host that cannot see our requests cannot forge answers to them.
    std::uint32_t seed = 0;
};

// A datagram to send from the name service port.
struct OutgoingDatagram {
    Bytes bytes;
    net::Ipv4 address = 0;  // an interface's broadcast address, the WINS server or the asker
    std::uint16_t port = kNameServicePort;
    net::Ipv4 from = 0;     // our address on the interface to send it from; 0: any
};

enum class NameEventKind {
    kClaiming,        // a claim started
    kClaimed,         // the name is ours
    kRefused,         // not taken: `refusal` says why, `peer` who
    kReleased,        // given up on Release() or ReleaseAll()
    kDefended,        // `peer` tried to register a name we hold and was told no
    kWinsRegistered,  // the WINS server holds it for `count` seconds
    kWinsSilent,      // the WINS server did not answer; tried again later
    kWinsRefused,     // the WINS server answered `rcode`, or named `peer` as the
                      // owner (rcode kOk); the name stays on the LAN and the
                      // server is asked again later
    kAnswersLimited,  // `count` answers refused by the rate limits since the last
                      // such event; `peer` is the latest source refused
};

enum class NameRefusal {
    kNone,
    kOwnedOnLan,  // a host of a local subnet (`peer`) owns it
};

struct NameEvent {
    NameEventKind kind = NameEventKind::kClaiming;
    RawName name{};  // all zero for kAnswersLimited
    net::Ipv4 peer = 0;
    NameRefusal refusal = NameRefusal::kNone;
    std::uint32_t count = 0;
    NameRcode rcode = NameRcode::kOk;  // what the WINS server said, for kWinsRefused
};

enum class ClaimResult {
    kStarted,       // kClaiming now, kClaimed or kRefused later
    kAlreadyHeld,   // claimed or being claimed already; nothing changes
    kTooManyNames,  // kMaxHeldNames reached
};

enum class NameState { kClaiming, kClaimed };

// Answers refused by the rate limits, in all; the events report them by
// interval.
struct NameServerStats {
    std::uint64_t limited = 0;
};

class NameServer {
public:
    explicit NameServer(NameServerConfig config);

    // Names are listed in node status in the order they were first claimed:
    // claim the computer name first, since a sender's "*" takes the first.
    ClaimResult Claim(const RawName& name, net::Clock::time_point now);
    // False when the name is neither held nor being claimed.
    bool Release(const RawName& name, net::Clock::time_point now);
    // Every name, at once (the service is stopping): the releases are in
    // TakeOutgoing() right after.
    void ReleaseAll(net::Clock::time_point now);
    // The interfaces changed (an address moved, one came or went). Claimed
    // names are released on those that are gone (the system may no longer
    // send from their address) and, when one is new or the WINS server is
    // now reached from another address, every name is claimed again, on
    // the LAN and with the server: not ours until that claim ends.
    void SetInterfaces(std::vector<net::Interface> interfaces, net::Clock::time_point now);

    // One datagram from `source`:`port` that arrived on the interface whose
    // address is `local_address`; one that arrived on an address not among
    // the configured interfaces is ignored. From 127.x or one of our own
    // addresses (this computer asking itself) only queries are answered. Call TakeOutgoing() and
    // TakeEvents() after this and every other call.
    void OnDatagram(ByteView data, net::Ipv4 source, std::uint16_t port,
                    net::Ipv4 local_address, net::Clock::time_point now);
    void OnTimer(net::Clock::time_point now);
    // When OnTimer() is next wanted; none when nothing is pending.
    std::optional<net::Clock::time_point> NextTimer() const;

    std::vector<OutgoingDatagram> TakeOutgoing();
    std::vector<NameEvent> TakeEvents();

    std::optional<NameState> StateOf(const RawName& name) const;
    const NameServerStats& stats() const { return stats_; }

private:
    enum class Wins { kNone, kRegistering, kRegistered, kRetry };

    // A name held or being claimed, with its claim and WINS timers.
    struct Held {
        RawName name{};
        NameState state = NameState::kClaiming;
        std::uint16_t claim_id = 0;
        int broadcasts = 0;
        bool broadcasts_done = false;
        net::Clock::time_point next_broadcast{};
        Wins wins = Wins::kNone;
        bool wins_refreshing = false;
        std::uint16_t wins_id = 0;
        int wins_tries = 0;
        net::Clock::time_point wins_at{};  // resend or give up, refresh, or retry
        std::chrono::seconds wins_backoff{0};
        std::optional<net::Clock::time_point> defence_reported;
    };

    // Answers a source may still send, in thousandths of an answer.
    struct Bucket {
        net::Ipv4 source = 0;
        std::int64_t tokens = 0;
        net::Clock::time_point last{};
    };

    Held* Find(const RawName& name);
    const net::Interface* InterfaceAt(net::Ipv4 local_address) const;
    bool IsOurAddress(net::Ipv4 address) const;
    bool HoldsAny() const;
    std::uint16_t NewId();
    std::uint16_t NbFlags() const;
    net::Ipv4 WinsLocalAddress() const;

    void BeginClaim(Held& held, net::Clock::time_point now);
    void Step(Held& held, net::Clock::time_point now);
    void SendClaimBroadcasts(const Held& held);
    void StartWins(Held& held, bool refresh, net::Clock::time_point now);
    void SendWins(const Held& held);
    void WinsSilent(Held& held, net::Clock::time_point now);
    void WinsRefused(Held& held, net::Ipv4 owner, NameRcode rcode, net::Clock::time_point now);
    void AskWinsLater(Held& held, net::Clock::time_point now);
    void MaybeClaimed(Held& held);
    void SendReleases(const Held& held, bool on_lan, bool with_wins);
    void Drop(const RawName& name);
    void Refuse(Held& held, NameRefusal why, net::Ipv4 peer);

    void OnRequest(const NamePacket& packet, net::Ipv4 source, std::uint16_t port,
                   const net::Interface& arrived_on, net::Clock::time_point now);
    void OnResponse(const NamePacket& packet, net::Ipv4 source, const net::Interface& arrived_on,
                    net::Clock::time_point now);
    void AnswerNodeStatus(const NamePacket& packet, net::Ipv4 source, std::uint16_t port,
                          const net::Interface& arrived_on, net::Clock::time_point now);
    void Defend(Held& held, const NamePacket& packet, net::Ipv4 source, std::uint16_t port,
                const net::Interface& arrived_on, net::Clock::time_point now);
    // Who pays for an answer: a positive answer to a name query is no larger
    // than the query, so a forged flood of them gains nothing and only the
    // asker's own budget is spent; node status and negative answers spend
    // the shared one too.
    enum class Budget { kSource, kSourceAndShared };
    bool MayAnswer(net::Ipv4 source, std::uint16_t port, Budget budget, net::Clock::time_point now);
    void Send(Bytes bytes, net::Ipv4 address, std::uint16_t port, net::Ipv4 from);
    void Emit(NameEventKind kind, const RawName& name, net::Ipv4 peer,
              NameRefusal refusal = NameRefusal::kNone, std::uint32_t count = 0,
              NameRcode rcode = NameRcode::kOk);

    NameServerConfig config_;
    net::Ipv4 wins_wanted_;  // the configured server, kept while no interface is up
    std::uint32_t id_state_;
    std::vector<Held> names_;  // in the order first claimed
    std::vector<Bucket> buckets_;
    Bucket shared_bucket_;
    bool shared_bucket_started_ = false;
    std::uint64_t limited_unreported_ = 0;
    std::optional<net::Clock::time_point> limits_reported_;
    NameServerStats stats_;
    std::vector<OutgoingDatagram> outgoing_;
    std::vector<NameEvent> events_;
};

}  // namespace vindrel::netbios
