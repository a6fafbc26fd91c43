// The message sessions on TCP port 139 and their limits.
#include "app/vindreld/session_server.h"

#include <arpa/inet.h>
#include <errno.h>
#include <netinet/in.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <utility>

#include "app/vindreld/event_log.h"
#include "app/vindreld/stream_peer.h"
#include "platform/ipv4_text.h"

namespace vindrel::daemon {
namespace {

std::string Seconds(std::chrono::seconds s) { return std::to_string(s.count()) + " s"; }

// The address a connection was made to.
std::optional<std::uint32_t> LocalAddress(int fd)
{
    sockaddr_in local{};
    socklen_t size = sizeof local;
    if (getsockname(fd, reinterpret_cast<sockaddr*>(&local), &size) != 0 ||
        local.sin_family != AF_INET)
        return std::nullopt;
    return ntohl(local.sin_addr.s_addr);
}

}  // namespace

class SessionServer::Connection final : public StreamPeer {
public:
    Connection(SessionServer& owner, int fd, std::uint32_t source)
        : StreamPeer(owner.loop_, fd, kMaxPendingOutput, kReadPerTurn), owner_(owner),
          serial_(owner.next_serial_++), source_(source), session_(owner.is_our_name_),
          session_end_(Clock::now() + netbios::kSessionTime),
          frame_end_(Clock::now() + netbios::kFrameTime), last_useful_(Clock::now())
    {
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
        Log().Write(LogKind::kRefusal,
                    "session from " + Who() + " closed: " +
                        (whole ? "longer than " + Seconds(netbios::kSessionTime)
                               : "no whole frame within " + Seconds(netbios::kFrameTime)));
        owner_.Close(*this);
    }

    std::optional<netbios::ReceivedMessage> message;  // taken, not yet handed to the keeper

    void Stored(bool ok)
    {
        session_.Stored(ok);
        Pump();
    }

    std::uint64_t serial() const { return serial_; }
    std::uint32_t source() const { return source_; }
    std::string Who() const { return DottedIpv4(source_); }

    // Whether its seat may go to a newcomer: never in the middle of a
    // message or while one is being kept.
    bool Evictable() const
    {
        return !session_.in_message() && !message && !session_.awaiting_store();
    }
    bool sent_message() const { return sent_message_; }
    // The connection, or its latest frame that was not a keep-alive.
    Clock::time_point last_useful() const { return last_useful_; }

private:
    bool WantsInput() const override { return !session_.closing(); }

    void OnBytes(std::span<const std::uint8_t> bytes) override
    {
        const auto frames = session_.frames();
        const auto useful = frames - static_cast<std::uint64_t>(session_.keep_alives());
        session_.OnBytes(bytes);
        if (session_.frames() != frames) frame_end_ = Clock::now() + netbios::kFrameTime;
        // Keep-alives hold a seat; they are not a use of it.
        if (session_.frames() - static_cast<std::uint64_t>(session_.keep_alives()) != useful)
            last_useful_ = Clock::now();
        Pump();
    }

    void OnGone(Gone why) override
    {
        if (why == Gone::kNotReading)
            Log().Write(LogKind::kRefusal, "session from " + Who() + " closed: reads no replies");
        owner_.Close(*this);
    }

    // A session that is closing ends once its last reply is written.
    void OnFlushed() override
    {
        if (!session_.closing()) return;
        // A message that could not be kept was logged, with its reason,
        // when the keeper answered: one refusal, one line.
        const netbios::SessionFault fault = session_.fault();
        if (fault != netbios::SessionFault::kNone && fault != netbios::SessionFault::kNotStored)
            Log().Write(LogKind::kRefusal, "session from " + Who() + " closed: " +
                                               netbios::Describe(fault));
        owner_.Close(*this);
    }

    // Hands a finished message to the owner and writes what the session answers.
    void Pump()
    {
        if (fd() < 0) return;
        if (!message) {
            if (auto taken = session_.TakeMessage()) {
                message = std::move(taken);
                sent_message_ = true;
                owner_.finished_.push_back(this);
            }
        }
        Queue(session_.TakeOutput());
    }

    SessionServer& owner_;
    std::uint64_t serial_;
    std::uint32_t source_;
    netbios::MessageSession session_;
    Clock::time_point session_end_, frame_end_, last_useful_;
    bool sent_message_ = false;
};

SessionServer::SessionServer(EventLoop& loop, int listen_fd,
                             netbios::MessageSession::NameCheck is_our_name,
                             MessageKeeper& keeper, AddressCheck is_served)
    : loop_(loop), listen_fd_(listen_fd), is_our_name_(std::move(is_our_name)), keeper_(keeper),
      is_served_(std::move(is_served))
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
        // Only the addresses of the interfaces served (loopback is none of
        // them); elsewhere a connection is closed unanswered.
        const auto local = LocalAddress(fd);
        if (!local || !is_served_(*local)) {
            Log().Write(LogKind::kRefusal, "session from " + DottedIpv4(source) + " to " +
                                               (local ? DottedIpv4(*local) : "an unknown address") +
                                               " refused: not an address this service serves");
            close(fd);
            continue;
        }
        if (connections_.size() >= netbios::kMaxSessions ||
            per_source_[source] >= netbios::kMaxSessionsPerSource)
            ReapFinished();
        std::string refusal;
        if (per_source_[source] >= netbios::kMaxSessionsPerSource)
            refusal =
                std::to_string(netbios::kMaxSessionsPerSource) + " sessions from that address";
        else if (connections_.size() >= netbios::kMaxSessions && !EvictFor(source))
            refusal = std::to_string(netbios::kMaxSessions) +
                      " sessions at once, none idle that this address may take";
        if (refusal.empty()) {
            auto connection = std::make_unique<Connection>(*this, fd, source);
            if (loop_.Add(fd, EPOLLIN, connection.get())) {
                ++per_source_[source];
                connections_.emplace(fd, std::move(connection));
                continue;
            }
            refusal = "cannot watch the connection";
        }
        Log().Write(LogKind::kRefusal,
                    "session from " + DottedIpv4(source) + " refused: " + refusal);
        // One small reply into an empty socket buffer: it cannot block.
        const netbios::Bytes reply = netbios::MessageSession::InsufficientResources();
        send(fd, reply.data(), reply.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
        close(fd);
        if (per_source_[source] == 0) per_source_.erase(source);
    }
}

// The table is full: the seat goes to `newcomer` from an idle session of the
// address holding the most seats, the one that never sent a message and has
// been idle longest first. That address must hold at least two more than
// the newcomer's, so that a seat never passes back and forth between two
// addresses that reconnect. False when no session qualifies.
bool SessionServer::EvictFor(std::uint32_t newcomer)
{
    const auto held = [this](std::uint32_t source) {
        const auto it = per_source_.find(source);
        return it == per_source_.end() ? std::size_t{0} : it->second;
    };
    const std::size_t own = held(newcomer);
    Connection* victim = nullptr;
    const auto before = [&held](const Connection& a, const Connection& b) {
        if (held(a.source()) != held(b.source())) return held(a.source()) > held(b.source());
        if (a.sent_message() != b.sent_message()) return !a.sent_message();
        return a.last_useful() < b.last_useful();
    };
    for (auto& [fd, connection] : connections_) {
        if (!connection->Evictable() || held(connection->source()) < own + 2) continue;
        if (victim == nullptr || before(*connection, *victim)) victim = connection.get();
    }
    if (victim == nullptr) return false;
    const auto idle =
        std::chrono::duration_cast<std::chrono::seconds>(Clock::now() - victim->last_useful());
    Log().Write(LogKind::kRefusal,
                "session from " + victim->Who() + " closed to seat one from " + DottedIpv4(newcomer) +
                    ": all " + std::to_string(netbios::kMaxSessions) + " seats taken and it sent " +
                    (victim->sent_message() ? "nothing since its message" : "no message") + " in " +
                    Seconds(idle) + " (its address held " +
                    std::to_string(held(victim->source())) + ")");
    Close(*victim);
    return true;
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
    std::vector<spool::Record> records;
    std::vector<Sent> sent;
    const std::int64_t now = spool::NowMs();
    for (Connection* c : std::exchange(finished_, {})) {
        records.push_back(keeper_.ToRecord(*c->message, now));
        records.back().source = c->Who();  // what each sender's share of the spool counts by
        c->message.reset();
        keeping_.emplace(c->serial(), c);
        sent.push_back({c->serial(), "message from " + records.back().from + " (" + c->Who() +
                                         ") to " + records.back().to});
    }
    keeper_.Submit(std::move(records),
                   [this, sent = std::move(sent)](std::vector<spool::StoreResult> results) {
                       Answer(sent, results);
                   });
}

void SessionServer::Answer(const std::vector<Sent>& sent,
                           const std::vector<spool::StoreResult>& results)
{
    for (std::size_t i = 0; i < sent.size() && i < results.size(); ++i) {
        const spool::StoreResult& result = results[i];
        const bool kept = result.error == spool::StoreError::kNone;
        if (kept) {
            Log().Write(LogKind::kMessage, sent[i].what + " kept as " + result.name);
        } else {
            Log().Write(LogKind::kMessage,
                        sent[i].what + " refused: " + spool::Describe(result.error) +
                            (result.detail.empty() ? "" : ": " + result.detail));
        }
        // The sender may have gone meanwhile; what was kept stays kept.
        const auto waiting = keeping_.find(sent[i].serial);
        if (waiting == keeping_.end()) continue;
        Connection* c = waiting->second;
        keeping_.erase(waiting);
        c->Stored(kept);
    }
    // The answers let sessions read on: messages that were sent behind
    // these, in the same write, are finished now and go to the writer at once.
    KeepFinished();
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
    keeping_.erase(connection.serial());
    if (--per_source_[connection.source()] == 0) per_source_.erase(connection.source());
    connection.Shut();
    auto it = connections_.find(fd);
    if (it != connections_.end()) {
        loop_.Retire(std::move(it->second));
        connections_.erase(it);
    }
}

}  // namespace vindrel::daemon
