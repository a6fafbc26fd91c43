// TCP port 139: accepts connections to a served address within the session
// limits, runs one MessageSession per connection against its frame and
// session deadlines, and hands the messages that sessions finish, a whole
// loop turn's worth at once, to the keeper; each is answered only once the
// keeper says it is kept. When every seat is taken, a newcomer takes the
// seat of an idle session (one that is not in the middle of a message), from
// the address that holds the most.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/vindreld/event_loop.h"
#include "app/vindreld/message_keeper.h"
#include "netbios/server/message_session.h"

namespace vindrel::daemon {

// Connections taken from the listen queue in one turn, so a flood of them
// cannot hold up the sessions already open.
inline constexpr int kAcceptsPerTurn = 64;
// Bytes read from one connection in one turn.
inline constexpr std::size_t kReadPerTurn = 16384;
// Unsent output a session may hold; replies are a few dozen bytes each.
inline constexpr std::size_t kMaxPendingOutput = 16384;

class SessionServer final : public Watcher {
public:
    // True when a connection to this local address is one to serve; it
    // follows the interfaces as they change.
    using AddressCheck = std::function<bool(std::uint32_t local)>;

    SessionServer(EventLoop& loop, int listen_fd, netbios::MessageSession::NameCheck is_our_name,
                  MessageKeeper& keeper, AddressCheck is_served);
    ~SessionServer() override;

    void OnReady(std::uint32_t events) override;  // new connections

    // Hands the messages finished since the last call to the keeper.
    void KeepFinished();
    // Ends sessions whose deadline has passed.
    void OnTimer(Clock::time_point now);
    std::optional<Clock::time_point> NextDeadline() const;

    std::size_t open_sessions() const { return connections_.size(); }

private:
    class Connection;
    friend class Connection;

    // What a message is logged as once the keeper is done with it.
    struct Sent {
        std::uint64_t serial;  // of the connection
        std::string what;
    };

    void Close(Connection& connection);
    void ReapFinished();
    void Answer(const std::vector<Sent>& sent, const std::vector<spool::StoreResult>& results);
    bool EvictFor(std::uint32_t newcomer);

    EventLoop& loop_;
    int listen_fd_;
    netbios::MessageSession::NameCheck is_our_name_;
    MessageKeeper& keeper_;
    AddressCheck is_served_;
    std::map<int, std::unique_ptr<Connection>> connections_;
    std::map<std::uint32_t, std::size_t> per_source_;
    std::vector<Connection*> finished_;  // a message waits to be handed to the keeper
    // By serial, not by descriptor: a session may end, and its descriptor
    // be reused, while its message is being kept.
    std::map<std::uint64_t, Connection*> keeping_;
    std::uint64_t next_serial_ = 1;
};

}  // namespace vindrel::daemon
