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
    // "*": the whole send, the hosts it serves at most, and how many of them
    // are served at once (1 serves them one after another).
    std::chrono::milliseconds everyone{10000};
    std::size_t max_hosts = 256;
    int concurrency = 16;
};

}  // namespace vindrel::netbios
