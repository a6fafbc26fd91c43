// Notices when the system's addresses or links change (an rtnetlink socket
// joined to the address and link groups), so the service can re-read the
// interfaces it serves. A burst of changes (an address moved is a removal
// and an addition, often with link events around them) is applied once,
// kInterfaceSettle after its first message.
#pragma once

#include <chrono>
#include <optional>
#include <string>

#include "app/vindreld/event_loop.h"

namespace vindrel::daemon {

inline constexpr std::chrono::milliseconds kInterfaceSettle{500};

class InterfaceWatcher final : public Watcher {
public:
    // Opens and watches the socket; on failure ok() is false and `error`
    // says why (the service then keeps the interfaces it started with).
    InterfaceWatcher(EventLoop& loop, std::string& error);
    ~InterfaceWatcher() override;
    InterfaceWatcher(const InterfaceWatcher&) = delete;
    InterfaceWatcher& operator=(const InterfaceWatcher&) = delete;

    bool ok() const { return fd_ >= 0; }
    void OnReady(std::uint32_t events) override;

    // When the interfaces are next to be re-read; none while nothing changed.
    std::optional<Clock::time_point> NextDeadline() const { return due_; }
    // True once that time has come; the caller re-reads them now.
    bool TakeDue(Clock::time_point now);

private:
    EventLoop& loop_;
    int fd_ = -1;
    std::optional<Clock::time_point> due_;
};

}  // namespace vindrel::daemon
