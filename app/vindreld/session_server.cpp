// The message sessions on TCP port 139 and their limits.
#include "app/vindreld/session_server.h"

#include <arpa/inet.h>
#include <errno.h>
#include <netinet/in.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <utility>

#include "app/vindreld/dotted.h"
#include "app/vindreld/event_log.h"

namespace vindrel::daemon {
namespace {

std::int64_t NowMs()
{
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1'000'000;
}

}  // namespace

class SessionServer::Connection final : public Watcher {
public:
    Connection(SessionServer& owner, int fd, std::uint32_t source)
        : owner_(owner), fd_(fd), source_(source), session_(owner.is_our_name_),
          session_end_(Clock::now() + netbios::kSessionTime),
          frame_end_(Clock::now() + netbios::kFrameTime)
    {
    }
    ~Connection() override
    {
        if (fd_ >= 0) close(fd_);
    }

    void OnReady(std::uint32_t events) override
    {
        if (fd_ < 0) return;
        if (events & EPOLLOUT) Flush();
        if (fd_ >= 0 && (events & (EPOLLIN | EPOLLHUP | EPOLLERR))) Read();
    }

    // The frame time stops while the message is being kept, and restarts
    // with every whole frame.
    Clock::time_point Deadline() const
    {
        return session_.awaiting_store() ? session_end_ : std::min(session_end_, frame_end_);
    }

    void Expire(Clock::time_point now)
    {
        const bool whole = now >= session_end_;
        Log().Write(LogKind::kRefusal, "session from " + Who() + " closed: " +
                                           (whole ? "longer than 30 s" : "no whole frame within 5 s"));
        owner_.Close(*this);
    }

    std::optional<netbios::ReceivedMessage> message;  // taken, not yet kept

    void Stored(bool ok)
    {
        session_.Stored(ok);
        Pump();
    }

    std::uint32_t source() const { return source_; }
    int fd() const { return fd_; }
    std::string Who() const { return Dotted(source_); }

    void Shut()
    {
        if (fd_ >= 0) close(fd_);
        fd_ = -1;
    }

private:
    void Read()
    {
        std::uint8_t buffer[4096];
        for (std::size_t total = 0; fd_ >= 0 && total < kReadPerTurn && !session_.closing();) {
            const ssize_t n = recv(fd_, buffer, sizeof buffer, MSG_DONTWAIT);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
            if (n <= 0) {
                owner_.Close(*this);
                return;
            }
            total += static_cast<std::size_t>(n);
            const auto frames = session_.frames();
            session_.OnBytes({buffer, static_cast<std::size_t>(n)});
            if (session_.frames() != frames) frame_end_ = Clock::now() + netbios::kFrameTime;
            Pump();
        }
    }

    // Hands a finished message to the owner, writes what the session
    // answers, and ends a session that is closing once that is written.
    void Pump()
    {
        if (fd_ < 0) return;
        if (!message) {
            if (auto taken = session_.TakeMessage()) {
                message = std::move(taken);
                owner_.finished_.push_back(this);
            }
        }
        const netbios::Bytes bytes = session_.TakeOutput();
        out_.insert(out_.end(), bytes.begin(), bytes.end());
        if (out_.size() > kMaxPendingOutput) {
            Log().Write(LogKind::kRefusal, "session from " + Who() + " closed: reads no replies");
            owner_.Close(*this);
            return;
        }
        Flush();
    }

    void Flush()
    {
        while (!out_.empty()) {
            const ssize_t n = send(fd_, out_.data(), out_.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
            if (n < 0) {
                owner_.Close(*this);
                return;
            }
            out_.erase(out_.begin(), out_.begin() + n);
        }
        if (out_.empty() && session_.closing()) {
            if (session_.fault() != netbios::SessionFault::kNone)
                Log().Write(LogKind::kRefusal, "session from " + Who() + " closed: " +
                                                   netbios::Describe(session_.fault()));
            owner_.Close(*this);
            return;
        }
        const std::uint32_t want = out_.empty() ? EPOLLIN : EPOLLIN | EPOLLOUT;
        if (want != watching_) {
            owner_.loop_.Modify(fd_, want, this);
            watching_ = want;
        }
    }

    SessionServer& owner_;
    int fd_;
    std::uint32_t source_;
    netbios::MessageSession session_;
    Clock::time_point session_end_, frame_end_;
    netbios::Bytes out_;
    std::uint32_t watching_ = EPOLLIN;
};

SessionServer::SessionServer(EventLoop& loop, int listen_fd,
                             netbios::MessageSession::NameCheck is_our_name,
                             const MessageKeeper& keeper)
    : loop_(loop), listen_fd_(listen_fd), is_our_name_(std::move(is_our_name)), keeper_(keeper)
{
    loop_.Add(listen_fd_, EPOLLIN, this);
}

SessionServer::~SessionServer()
{
    loop_.Remove(listen_fd_);
    for (auto& [fd, connection] : connections_) loop_.Remove(fd);
}

void SessionServer::OnReady(std::uint32_t)
{
    for (int i = 0; i < kAcceptsPerTurn; ++i) {
        sockaddr_in peer{};
        socklen_t size = sizeof peer;
        const int fd = accept4(listen_fd_, reinterpret_cast<sockaddr*>(&peer), &size,
                               SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd < 0) return;
        const std::uint32_t source = ntohl(peer.sin_addr.s_addr);
        if (connections_.size() >= netbios::kMaxSessions ||
            per_source_[source] >= netbios::kMaxSessionsPerSource)
            ReapFinished();
        const char* refusal = connections_.size() >= netbios::kMaxSessions ? "64 sessions at once"
                              : per_source_[source] >= netbios::kMaxSessionsPerSource
                                  ? "8 sessions from that address"
                                  : nullptr;
        if (refusal == nullptr) {
            auto connection = std::make_unique<Connection>(*this, fd, source);
            if (loop_.Add(fd, EPOLLIN, connection.get())) {
                ++per_source_[source];
                connections_.emplace(fd, std::move(connection));
                continue;
            }
            refusal = "cannot watch the connection";
        }
        Log().Write(LogKind::kRefusal,
                    "session from " + Dotted(source) + " refused: " + refusal);
        // One small reply into an empty socket buffer: it cannot block.
        const netbios::Bytes reply = netbios::MessageSession::InsufficientResources();
        send(fd, reply.data(), reply.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
        close(fd);
        if (per_source_[source] == 0) per_source_.erase(source);
    }
}

// A sender closes its session once its message is answered; under load the
// loop may not have read that close yet. Such a session must not count
// against a limit that would refuse the sender's next message.
void SessionServer::ReapFinished()
{
    std::vector<Connection*> gone;
    for (auto& [fd, connection] : connections_) {
        char byte;
        if (recv(fd, &byte, 1, MSG_PEEK | MSG_DONTWAIT) == 0) gone.push_back(connection.get());
    }
    for (Connection* connection : gone) Close(*connection);
}

void SessionServer::KeepFinished()
{
    if (finished_.empty()) return;
    const std::vector<Connection*> batch = std::exchange(finished_, {});
    std::vector<spool::Record> records;
    const std::int64_t now = NowMs();
    for (Connection* c : batch) records.push_back(keeper_.ToRecord(*c->message, now));
    const auto results = keeper_.Keep(records);
    for (std::size_t i = 0; i < batch.size(); ++i) {
        Connection* c = batch[i];
        const spool::StoreResult& result = results[i];
        const bool kept = result.error == spool::StoreError::kNone;
        const std::string what = "message from " + records[i].from + " (" + c->Who() + ") to " +
                                 records[i].to;
        if (kept) {
            Log().Write(LogKind::kMessage, what + " kept as " + result.name);
        } else {
            const char* why = result.error == spool::StoreError::kSpoolFull ? "the spool is full"
                              : result.error == spool::StoreError::kSpoolMissing
                                  ? "cannot open the spool"
                              : result.error == spool::StoreError::kSpoolBusy
                                  ? "another writer holds the spool's lock"
                                  : "cannot write to the spool";
            Log().Write(LogKind::kMessage, what + " refused: " + why +
                                               (result.detail.empty() ? "" : ": " + result.detail));
        }
        c->message.reset();
        c->Stored(kept);
    }
}

void SessionServer::OnTimer(Clock::time_point now)
{
    std::vector<Connection*> late;
    for (auto& [fd, connection] : connections_)
        if (connection->Deadline() <= now) late.push_back(connection.get());
    for (Connection* connection : late) connection->Expire(now);
}

std::optional<Clock::time_point> SessionServer::NextDeadline() const
{
    std::optional<Clock::time_point> next;
    for (const auto& [fd, connection] : connections_)
        if (!next || connection->Deadline() < *next) next = connection->Deadline();
    return next;
}

void SessionServer::Close(Connection& connection)
{
    const int fd = connection.fd();
    if (fd < 0) return;
    loop_.Remove(fd);
    finished_.erase(std::remove(finished_.begin(), finished_.end(), &connection), finished_.end());
    if (--per_source_[connection.source()] == 0) per_source_.erase(connection.source());
    connection.Shut();
    auto it = connections_.find(fd);
    if (it != connections_.end()) {
        loop_.Retire(std::move(it->second));
        connections_.erase(it);
    }
}

}  // namespace vindrel::daemon
