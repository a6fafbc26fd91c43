// The rtnetlink socket that tells of address and link changes.
#include "app/vindreld/interface_watcher.h"

#include <errno.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <string.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace vindrel::daemon {
namespace {

// Messages read in one turn; whatever they say, one re-read covers them all.
constexpr int kMessagesPerTurn = 64;

}  // namespace

InterfaceWatcher::InterfaceWatcher(EventLoop& loop, std::string& error) : loop_(loop)
{
    const int fd = socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC | SOCK_NONBLOCK, NETLINK_ROUTE);
    if (fd < 0) {
        error = std::string("cannot open a netlink socket: ") + strerror(errno);
        return;
    }
    sockaddr_nl local{};
    local.nl_family = AF_NETLINK;
    local.nl_groups = RTMGRP_IPV4_IFADDR | RTMGRP_LINK;
    if (bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
        error = std::string("cannot join the netlink address group: ") + strerror(errno);
        close(fd);
        return;
    }
    if (!loop_.Add(fd, EPOLLIN, this)) {
        error = "cannot watch the netlink socket";
        close(fd);
        return;
    }
    fd_ = fd;
    // A change between the first reading and now told nobody: read once more.
    due_ = Clock::now() + kInterfaceSettle;
}

InterfaceWatcher::~InterfaceWatcher()
{
    if (fd_ < 0) return;
    loop_.Remove(fd_);
    close(fd_);
}

void InterfaceWatcher::OnReady(std::uint32_t)
{
    // The messages are not parsed: any of them, or an overflow (ENOBUFS,
    // changes lost), means the list is read again from the system.
    bool changed = false;
    for (int i = 0; i < kMessagesPerTurn; ++i) {
        char buffer[8192];
        sockaddr_nl from{};
        socklen_t size = sizeof from;
        const ssize_t n = recvfrom(fd_, buffer, sizeof buffer, MSG_DONTWAIT,
                                   reinterpret_cast<sockaddr*>(&from), &size);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno == ENOBUFS) {
            changed = true;
            continue;
        }
        if (n < 0) break;
        // Only the kernel speaks for the system's addresses.
        if (from.nl_pid == 0) changed = true;
    }
    if (changed && !due_) due_ = Clock::now() + kInterfaceSettle;
}

bool InterfaceWatcher::TakeDue(Clock::time_point now)
{
    if (!due_ || now < *due_) return false;
    due_.reset();
    return true;
}

}  // namespace vindrel::daemon
