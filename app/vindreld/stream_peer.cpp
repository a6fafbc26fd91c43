// Non-blocking reads and writes of one stream socket.
#include "app/vindreld/stream_peer.h"

#include <errno.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace vindrel::daemon {

StreamPeer::StreamPeer(EventLoop& loop, int fd, std::size_t max_pending,
                       std::size_t read_per_turn)
    : loop_(loop), fd_(fd), max_pending_(max_pending), read_per_turn_(read_per_turn),
      watching_(EPOLLIN)
{
}

StreamPeer::~StreamPeer() { Shut(); }

void StreamPeer::Shut()
{
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
}

void StreamPeer::OnReady(std::uint32_t events)
{
    if (fd_ < 0) return;
    if (events & EPOLLOUT) Flush();
    if (fd_ < 0 || !(events & (EPOLLIN | EPOLLHUP | EPOLLERR))) return;
    std::uint8_t buffer[4096];
    // Bounded per turn, so one busy peer cannot hold up the others.
    for (std::size_t total = 0; fd_ >= 0 && total < read_per_turn_ && WantsInput();) {
        const ssize_t n = recv(fd_, buffer, sizeof buffer, MSG_DONTWAIT);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
        if (n <= 0) {
            OnGone(n == 0 ? Gone::kClosed : Gone::kError);
            return;
        }
        total += static_cast<std::size_t>(n);
        OnBytes({buffer, static_cast<std::size_t>(n)});
    }
}

void StreamPeer::Queue(std::span<const std::uint8_t> bytes)
{
    if (fd_ < 0) return;
    out_.insert(out_.end(), bytes.begin(), bytes.end());
    if (out_.size() > max_pending_) {
        OnGone(Gone::kNotReading);
        return;
    }
    Flush();
}

void StreamPeer::Flush()
{
    while (!out_.empty()) {
        const ssize_t n = send(fd_, out_.data(), out_.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
        if (n < 0) {
            OnGone(Gone::kError);
            return;
        }
        out_.erase(out_.begin(), out_.begin() + n);
    }
    if (out_.empty()) {
        OnFlushed();
        if (fd_ < 0) return;
    }
    const std::uint32_t want = out_.empty() ? EPOLLIN : EPOLLIN | EPOLLOUT;
    if (want != watching_ && loop_.Modify(fd_, want, this)) watching_ = want;
}

}  // namespace vindrel::daemon
