// UDP port 138: the messenger messages that come as datagrams. Keeps those
// written to \MAILSLOT\MESSNGR for one of our names, or for our workgroup,
// that arrived on a served interface, within the datagram budgets; counts
// the rest that were meant for us and reports each burst of them in one line.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/vindreld/event_loop.h"
#include "app/vindreld/message_keeper.h"
#include "app/vindreld/served_interfaces.h"
#include "app/vindreld/source_budget.h"
#include "netbios/codec/datagram.h"

namespace vindrel::daemon {

class DatagramPort final : public Watcher {
public:
    // True for a <03> name of ours, held or being claimed.
    using NameCheck = std::function<bool(const netbios::RawName&)>;

    // `workgroup`: its 15 name bytes count; the suffix may be <03> or <00>.
    DatagramPort(EventLoop& loop, int fd, std::vector<ServedInterface> interfaces,
                 NameCheck is_our_name, const netbios::RawName& workgroup, MessageKeeper& keeper);
    ~DatagramPort() override;

    void OnReady(std::uint32_t events) override;

    // Writes the report of a burst of refusals once it is over.
    void OnTimer(Clock::time_point now);
    // The interfaces changed: datagrams are taken from these from now on.
    void SetInterfaces(std::vector<ServedInterface> interfaces) { interfaces_ = std::move(interfaces); }
    std::optional<Clock::time_point> NextDeadline() const;

private:
    bool ForUs(const netbios::MessengerDatagram& datagram) const;
    void Refused(bool limited, std::uint32_t source, netbios::DatagramError error,
                 Clock::time_point now);

    EventLoop& loop_;
    int fd_;
    std::vector<ServedInterface> interfaces_;
    NameCheck is_our_name_;
    netbios::RawName workgroup_;
    MessageKeeper& keeper_;
    SourceBudget budget_;

    // The burst of refusals not yet reported.
    struct Burst {
        std::uint64_t limited = 0, malformed = 0;
        std::uint32_t latest_limited = 0, latest_malformed = 0;
        netbios::DatagramError latest_error = netbios::DatagramError::kNone;
        Clock::time_point first{}, last{};
    };
    std::optional<Burst> burst_;
};

}  // namespace vindrel::daemon
