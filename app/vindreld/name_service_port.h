// UDP port 137: hands each datagram to the NameServer with the address of
// the interface it arrived on, and sends what the NameServer answers from
// the address it names.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "app/vindreld/event_loop.h"
#include "app/vindreld/served_interfaces.h"
#include "platform/netbios/name_server.h"

namespace vindrel::daemon {

// Datagrams read in one turn, so a flood cannot hold up the sessions.
inline constexpr int kDatagramsPerTurn = 64;

class NameServicePort final : public Watcher {
public:
    // `after` runs once a batch of datagrams is handed over (to act on the
    // NameServer's events).
    NameServicePort(EventLoop& loop, int fd, netbios::NameServer& server,
                    std::vector<ServedInterface> interfaces, std::function<void()> after);
    ~NameServicePort() override;

    void OnReady(std::uint32_t events) override;

    // Sends every datagram the NameServer has waiting.
    void SendOutgoing();
    // The interfaces changed: datagrams are taken from these from now on.
    void SetInterfaces(std::vector<ServedInterface> interfaces)
    {
        interfaces_ = std::move(interfaces);
    }

private:
    EventLoop& loop_;
    int fd_;
    netbios::NameServer& server_;
    std::vector<ServedInterface> interfaces_;
    std::function<void()> after_;
};

}  // namespace vindrel::daemon
