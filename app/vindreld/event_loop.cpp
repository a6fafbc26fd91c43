// The epoll loop.
#include "app/vindreld/event_loop.h"

#include <errno.h>
#include <sys/epoll.h>
#include <unistd.h>

#include <algorithm>

namespace vindrel::daemon {

EventLoop::EventLoop() : epoll_(epoll_create1(EPOLL_CLOEXEC)) {}

EventLoop::~EventLoop()
{
    if (epoll_ >= 0) close(epoll_);
}

bool EventLoop::Add(int fd, std::uint32_t events, Watcher* watcher)
{
    epoll_event e{};
    e.events = events;
    e.data.ptr = watcher;
    return epoll_ctl(epoll_, EPOLL_CTL_ADD, fd, &e) == 0;
}

bool EventLoop::Modify(int fd, std::uint32_t events, Watcher* watcher)
{
    epoll_event e{};
    e.events = events;
    e.data.ptr = watcher;
    return epoll_ctl(epoll_, EPOLL_CTL_MOD, fd, &e) == 0;
}

void EventLoop::Remove(int fd) { epoll_ctl(epoll_, EPOLL_CTL_DEL, fd, nullptr); }

bool EventLoop::RunOnce(std::optional<Clock::time_point> until)
{
    int timeout = -1;
    if (until) {
        // Rounded up: a deadline less than a millisecond away is waited
        // for, not polled for in a busy loop.
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(*until - Clock::now());
        timeout = static_cast<int>(std::clamp<long long>(left.count(), 0, 3'600'000));
    }
    epoll_event events[64];
    const int n = epoll_wait(epoll_, events, 64, timeout);
    if (n < 0) return errno == EINTR;
    for (int i = 0; i < n; ++i)
        static_cast<Watcher*>(events[i].data.ptr)->OnReady(events[i].events);
    // Freed only now: a later event of this batch may still name one.
    retired_.clear();
    return true;
}

}  // namespace vindrel::daemon
