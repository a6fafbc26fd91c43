// UDP port 137: hands each datagram to the NameServer with the address of
// the interface it arrived on, and sends what the NameServer answers from
// the address it names. A question this computer asks itself arrives on
// loopback and is handed over as arriving on the served interface it was
// sent to (the first, for 127.x).
#pragma once

#include <netinet/in.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <vector>

#include "app/vindreld/event_loop.h"
#include "app/vindreld/served_interfaces.h"
#include "netbios/server/name_server.h"

namespace vindrel::daemon {

// Datagrams read in one turn, so a flood cannot hold up the sessions.
inline constexpr int kDatagramsPerTurn = 64;
// How long a stopping service waits for its releases' echoes and answers.
inline constexpr auto kReturnWait = std::chrono::milliseconds(100);

class NameServicePort final : public Watcher {
public:
    // `after` runs once a batch of datagrams is handed over (to act on the
    // NameServer's events).
    NameServicePort(EventLoop& loop, int fd, netbios::NameServer& server,
                    std::vector<ServedInterface> interfaces, std::function<void()> after);
    ~NameServicePort() override;

    void OnReady(std::uint32_t events) override;

    // Sends every datagram the NameServer has waiting; returns how many.
    int SendOutgoing();

    // Takes what our last requests bring back off the socket's queue: our
    // own datagrams (from one of our addresses, port 137: a broadcast's
    // echo) and answers (the WINS server's to a release), waiting until
    // `deadline` for `returns` of them. Stops at the first question from
    // anyone else, which is left for whoever reads the socket next.
    void DrainReturns(int returns, Clock::time_point deadline);
    // The interfaces changed: datagrams are taken from these from now on.
    void SetInterfaces(std::vector<ServedInterface> interfaces)
    {
        interfaces_ = std::move(interfaces);
    }

private:
    const ServedInterface* ArrivedOn(unsigned index, std::uint32_t destination) const;
    bool IsOurs(const sockaddr_in& from) const;

    EventLoop& loop_;
    int fd_;
    netbios::NameServer& server_;
    std::vector<ServedInterface> interfaces_;
    std::function<void()> after_;
    unsigned loopback_index_;
};

}  // namespace vindrel::daemon
