// The registration socket: each vindrel-inbox connects and registers its
// user's login name (receive/registration_protocol.h), which is then one of
// this computer's messenger names for as long as a connection registering
// it stays open, and a moment longer, so that an inbox that reconnects
// keeps its name. Peer credentials decide who may register what.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "app/vindreld/event_loop.h"
#include "netbios/codec/nb_name.h"
#include "receive/registration_protocol.h"

namespace vindrel::daemon {

// Connections at once, and from one user.
inline constexpr std::size_t kMaxRegistrationClients = 128;
inline constexpr std::size_t kMaxClientsPerUser = 8;
// Distinct login names registered at once.
inline constexpr std::size_t kMaxRegisteredNames = 32;
// Unread answers a client may let pile up before it is dropped.
inline constexpr std::size_t kMaxPendingAnswer = 4096;
// A name its last connection left is released this long after, unless it
// is registered again meanwhile (the inbox reconnects after a second).
inline constexpr std::chrono::milliseconds kReleaseGrace{3000};
// Claims of names not held, which put packets on the LAN, one user may
// start: this many at once, then one each kUserClaimInterval.
inline constexpr int kClaimsPerUserBurst = 3;
inline constexpr std::chrono::seconds kUserClaimInterval{20};

// Where a registered name stands, as its clients are told.
enum class Standing { kClaiming, kClaimed, kRefusedByOwner, kReleased, kTooMany };

// What registrations need from the name service.
class NameClaims {
public:
    virtual ~NameClaims() = default;
    // Starts claiming `name` (a <03> name) unless it is already held or
    // being claimed; answers where it stands now (claiming, claimed or too
    // many names).
    virtual Standing Claim(const netbios::RawName& name) = 0;
    // No registration holds `name` any more.
    virtual void Release(const netbios::RawName& name) = 0;
};

class Registrations final : public Watcher {
public:
    // `to_name` turns a login name into the <03> name (none: not a valid
    // NetBIOS name); `show` turns a name into the text of the answers.
    using ToName = std::function<std::optional<netbios::RawName>(const std::string& login)>;
    using ShowName = std::function<std::string(const netbios::RawName&)>;

    Registrations(EventLoop& loop, int listen_fd, NameClaims& claims, ToName to_name,
                  ShowName show, std::chrono::milliseconds grace = kReleaseGrace);
    ~Registrations() override;

    // Accepts waiting connections.
    void OnReady(std::uint32_t events) override;

    // The name service decided about `name`: every client registering it
    // is told.
    void NameChanged(const netbios::RawName& name, Standing standing, std::uint32_t peer);

    // The service is stopping: every registered client is told RELEASED.
    void ReleaseAll();

private:
    class Client;
    friend class Client;
    class GraceTimer;

    // Claims one user may still start, in thousandths of a claim.
    struct Allowance {
        std::int64_t left = 0;
        Clock::time_point last{};
    };

    void Register(Client& client, const std::string& login);
    void Close(Client& client);
    void Tell(Client& client, Standing standing, std::uint32_t peer);
    bool MayClaim(uid_t uid, Clock::time_point now);
    void ReleaseLeft();
    void ArmGraceTimer();

    EventLoop& loop_;
    int listen_fd_;
    NameClaims& claims_;
    ToName to_name_;
    ShowName show_;
    std::map<int, std::unique_ptr<Client>> clients_;
    std::map<uid_t, std::size_t> per_user_;
    std::map<netbios::RawName, std::size_t> holders_;  // connections per name
    std::map<netbios::RawName, Clock::time_point> leaving_;  // no connection; released then
    std::map<uid_t, Allowance> allowances_;
    std::chrono::milliseconds grace_;
    std::unique_ptr<GraceTimer> grace_timer_;
};

}  // namespace vindrel::daemon
