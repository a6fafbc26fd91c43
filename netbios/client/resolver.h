// Name resolution for the messenger client: a name through the WINS server
// or a broadcast on every LAN, every host through the wildcard query, and a
// host's messenger name through node status. Every answer is judged against
// the query it claims to answer and the address it came from.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <unordered_set>
#include <vector>

#include "netbios/client/client_limits.h"
#include "netbios/codec/name_service.h"
#include "netbios/codec/nb_name.h"
#include "platform/network.h"

namespace vindrel::netbios {

// Why an answer to a name query did not count.
enum class AnswerRefusal {
    kCounted,
    kNotAnAnswer,        // not a positive answer to this query (id, name, shape)
    kNotFromServer,      // a WINS answer from another address or port than the server's 137
    kAddressNotSender,   // it gives another address than the one it came from
    kNotLocalHost,       // not a host address of a local subnet: off-LAN, network,
                         // broadcast, multicast, loopback or 0.0.0.0
    kAlreadyKnown,       // a host already counted
    kOverHostLimit,      // beyond ClientLimits::max_hosts
};
inline constexpr std::size_t kAnswerRefusals = 7;

// An answer from the WINS server counts only from its address and port 137.
AnswerRefusal JudgeWinsAnswer(const QueryAnswer& answer, const net::Datagram& from,
                              net::Ipv4 server);

// A broadcast answer counts only when the address it gives is the address it
// came from, and that is a host address of the subnet of some local
// interface. With one socket on every interface the arrival interface is not
// known; a host on one LAN cannot pass for one on another anyway, since the
// reply must come from the address it names.
AnswerRefusal JudgeBroadcastAnswer(const QueryAnswer& answer, const net::Datagram& from,
                                   std::span<const net::Interface> interfaces);

// The hosts a wildcard query found, in the order they answered, each once
// and at most `limit`; how many answers were refused for each reason; and
// how many hosts answered beyond the limit (each once, up to `limit` more,
// so that a flood of them costs no more than the hosts kept).
class HostList {
public:
    explicit HostList(std::size_t limit) : limit_(limit) {}

    AnswerRefusal Offer(net::Ipv4 address);
    void Count(AnswerRefusal why) { ++refusals_[static_cast<std::size_t>(why)]; }

    const std::vector<net::Ipv4>& hosts() const { return hosts_; }
    std::size_t refusals(AnswerRefusal why) const
    {
        return refusals_[static_cast<std::size_t>(why)];
    }
    std::size_t hosts_over_limit() const { return over_limit_.size(); }

private:
    std::size_t limit_;
    std::vector<net::Ipv4> hosts_;
    std::unordered_set<net::Ipv4> seen_;
    std::unordered_set<net::Ipv4> over_limit_;
    std::array<std::size_t, kAnswerRefusals> refusals_{};
};

// What a host's node status listed: its computer name (its first unique
// <00> name, else its first messenger name) and its messenger names, in its order, at most
// kMaxNamesPerHost of them.
struct HostNames {
    net::Ipv4 address = 0;
    bool answered = false;
    std::optional<RawName> computer;
    std::vector<RawName> messenger;
};

class Resolver {
public:
    Resolver(net::Network& network, const ClientLimits& limits)
        : network_(network), limits_(limits)
    {
    }

    // The address holding `name`: the WINS servers first, in order, then
    // broadcasts on every LAN. The next server is asked when one has not
    // answered within its share of the time (at most ClientLimits::wins_wait;
    // all of them together at most half the time to `deadline`, so that the
    // broadcasts keep the rest). A server that says nobody holds the name
    // ends the asking of servers. None when nobody answered by `deadline`.
    std::optional<net::Ipv4> Resolve(const RawName& name, std::span<const net::Ipv4> wins,
                                     net::Deadline deadline);

    // Every host that answers the wildcard query on the LANs.
    HostList FindEveryone(net::Deadline deadline);

    // The node status of every one of `hosts`, asked from one socket: all at
    // once, then once more of those that have not answered within
    // ClientLimits::node_status_wait. An answer counts only from the host
    // asked; the rest stay unanswered.
    std::vector<HostNames> NamesOf(std::span<const net::Ipv4> hosts, net::Deadline deadline);

private:
    net::Network& network_;
    const ClientLimits& limits_;
};

}  // namespace vindrel::netbios
