// The limits every send of the messenger client keeps, whatever its peers do.
#pragma once

#include <chrono>
#include <cstddef>

namespace vindrel::netbios {

// Every wait of a send has a limit, and every send one overall deadline that
// each wait is also cut to. The defaults decide an unknown name in about a
// quarter of a second (0.2 s more for each WINS server that is named and
// stays silent): three broadcasts, since one datagram may be lost, at
// intervals far longer than a LAN's round trip; a late answer to an earlier
// try still counts. A delivery to one host is bounded by `delivery`.
struct ClientLimits {
    std::chrono::milliseconds wins_wait{200};
    int broadcast_tries = 3;
    std::chrono::milliseconds broadcast_interval{80};
    std::chrono::milliseconds node_status_wait{250};  // per try; two tries
    std::chrono::milliseconds connect{1500};
    std::chrono::milliseconds delivery{4000};  // connect, session and message, per host
    // Keep-alive frames a peer may send before any one reply; a peer that
    // sends more is stalling.
    int keepalives_per_reply = 8;

    // The whole of a send to one name: resolution and delivery.
    std::chrono::milliseconds send{5000};
    // "*" and the listing of names: the whole of it, the memory the hosts it
    // finds may take (kHostCost each: 2 MiB holds 4096 hosts; answers from
    // more hosts are counted, and "*" says it did not reach them), and how
    // many hosts are delivered to at once (1: one after another).
    std::chrono::milliseconds everyone{10000};
    std::size_t hosts_memory = std::size_t{2} << 20;
    int concurrency = 32;
    // The receive buffer asked for the answers of a whole LAN, which come
    // within milliseconds of a broadcast: a host's answer takes about 1 KiB
    // of the system's buffer, whatever its length.
    std::size_t receive_buffer = std::size_t{4} << 20;
};

// What one host found by "*" or the listing costs at most, in bytes: its
// address in the list and in the set that keeps it once (about 40), its
// computer name, up to kMaxNamesPerHost messenger names of 16 bytes and
// their vector (about 300), its place among the over-limit hosts counted
// and its delivery status (about 50).
inline constexpr std::size_t kMaxNamesPerHost = 16;
inline constexpr std::size_t kHostCost = 512;

inline std::size_t MaxHosts(const ClientLimits& limits) { return limits.hosts_memory / kHostCost; }

}  // namespace vindrel::netbios
