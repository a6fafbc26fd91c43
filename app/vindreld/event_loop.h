// One epoll loop on one thread. Whatever owns a descriptor registers itself
// with it and is called when the descriptor is ready; the loop sleeps until
// then or until the earliest deadline its owner names, so an idle service
// uses no CPU.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace vindrel::daemon {

using Clock = std::chrono::steady_clock;

class Watcher {
public:
    virtual ~Watcher() = default;
    virtual void OnReady(std::uint32_t events) = 0;
};

class EventLoop {
public:
    EventLoop();
    ~EventLoop();
    EventLoop(const EventLoop&) = delete;
    EventLoop& operator=(const EventLoop&) = delete;

    bool ok() const { return epoll_ >= 0; }

    // `watcher` must stay alive until Remove(fd) or the descriptor is closed.
    bool Add(int fd, std::uint32_t events, Watcher* watcher);
    bool Modify(int fd, std::uint32_t events, Watcher* watcher);
    void Remove(int fd);

    // Waits for descriptors until `until` (none: without limit) and calls
    // their watchers. False when the wait itself failed.
    bool RunOnce(std::optional<Clock::time_point> until);

    // Takes a watcher whose descriptor is closed and frees it once the
    // current batch of events is handled, so a watcher may end itself.
    void Retire(std::unique_ptr<Watcher> watcher) { retired_.push_back(std::move(watcher)); }

private:
    int epoll_;
    std::vector<std::unique_ptr<Watcher>> retired_;
};

}  // namespace vindrel::daemon
