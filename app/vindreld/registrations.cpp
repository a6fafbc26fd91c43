// The registration socket's clients: credentials, the protocol's lines, the
// count of connections holding each name, and what each user may claim.
#include "app/vindreld/registrations.h"

#include <errno.h>
#include <pwd.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <string_view>
#include <utility>
#include <vector>

#include "app/vindreld/event_log.h"
#include "app/vindreld/stream_peer.h"
#include "platform/ipv4_text.h"

namespace vindrel::daemon {
namespace {

using registration::Format;
using registration::kMaxLine;
using registration::Refusal;
using registration::Verb;

const std::string kOverLong = "sent a line over " + std::to_string(kMaxLine) + " bytes";

constexpr std::int64_t kOneClaim = 1000;  // allowances are kept in thousandths

std::optional<std::string> LoginOf(uid_t uid)
{
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* found = nullptr;
    if (getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found) != 0 || found == nullptr)
        return std::nullopt;
    return std::string(found->pw_name);
}

// What a refused line names when the login cannot be a NetBIOS name: its
// printable ASCII, upper case, no longer than a name, so the line stays one
// clean line that every client reads as a name.
std::string Shown(const std::string& login)
{
    std::string out;
    for (const char c : login.substr(0, netbios::kNameChars))
        out += (c > 0x20 && c < 0x7F) ? static_cast<char>(std::toupper(c)) : '?';
    return out.empty() ? "?" : out;
}

// Characters no login name of a desktop user holds and that would make a
// name mean something else on the wire: "*" asks everyone, "." starts a
// scope, and the rest are refused by Windows in computer names.
bool PlainLogin(const std::string& login)
{
    for (const char c : login)
        if (static_cast<unsigned char>(c) <= 0x20 || c == 0x7F ||
            std::string_view("*.\\/:?\"<>|+=;,[]").find(c) != std::string_view::npos)
            return false;
    return !login.empty();
}

}  // namespace

class Registrations::Client final : public StreamPeer {
public:
    Client(Registrations& owner, int fd, uid_t uid, pid_t pid)
        : StreamPeer(owner.loop_, fd, kMaxPendingAnswer, kMaxLine + 1),
          owner_(owner), uid_(uid), pid_(pid)
    {
    }

    // Queues one answer.
    void Send(const registration::Line& answer)
    {
        const std::string text = Format(answer);
        Queue({reinterpret_cast<const std::uint8_t*>(text.data()), text.size()});
    }

    std::string Who() const
    {
        return "uid " + std::to_string(uid_) + " pid " + std::to_string(pid_);
    }

    uid_t uid() const { return uid_; }
    std::optional<netbios::RawName> name;  // the name this connection holds
    std::string login;

private:
    void OnBytes(std::span<const std::uint8_t> bytes) override
    {
        in_.append(reinterpret_cast<const char*>(bytes.data()), bytes.size());
        for (std::size_t eol; fd() >= 0 && (eol = in_.find('\n')) != std::string::npos;) {
            const std::string line = in_.substr(0, eol);
            in_.erase(0, eol + 1);
            Line(line);
        }
        if (fd() >= 0 && in_.size() > kMaxLine) Refuse(kOverLong);
    }

    void OnGone(Gone why) override
    {
        if (why == Gone::kNotReading) Refuse("reads no answers");
        else owner_.Close(*this);
    }

    void Line(const std::string& line)
    {
        if (line.size() > kMaxLine) return Refuse(kOverLong);
        const auto said = registration::Parse(line);
        if (!said || said->verb != Verb::kRegister) return Refuse("sent no REGISTER line");
        owner_.Register(*this, said->name);
    }

    void Refuse(const std::string& why)
    {
        Log().Write(LogKind::kRefusal, "registration client " + Who() + " " + why + "; closed");
        owner_.Close(*this);
    }

    Registrations& owner_;
    uid_t uid_;
    pid_t pid_;
    std::string in_;
};

// Wakes the loop when the earliest name left behind is due for release.
class Registrations::GraceTimer final : public Watcher {
public:
    explicit GraceTimer(Registrations& owner)
        : owner_(owner), fd_(timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC | TFD_NONBLOCK))
    {
        if (fd_ >= 0) owner_.loop_.Add(fd_, EPOLLIN, this);
    }
    ~GraceTimer() override
    {
        if (fd_ < 0) return;
        owner_.loop_.Remove(fd_);
        close(fd_);
    }
    // Fires once after `after` (at least a nanosecond); zero disarms.
    bool Arm(std::chrono::nanoseconds after)
    {
        itimerspec when{};
        if (after.count() > 0) {
            when.it_value.tv_sec = static_cast<time_t>(after.count() / 1000000000);
            when.it_value.tv_nsec = static_cast<long>(after.count() % 1000000000);
        }
        return fd_ >= 0 && timerfd_settime(fd_, 0, &when, nullptr) == 0;
    }
    void OnReady(std::uint32_t) override
    {
        std::uint64_t expirations = 0;
        if (read(fd_, &expirations, sizeof expirations) < 0 && errno != EAGAIN) return;
        owner_.ReleaseLeft();
    }

private:
    Registrations& owner_;
    int fd_;
};

Registrations::Registrations(EventLoop& loop, int listen_fd, NameClaims& claims, ToName to_name,
                             ShowName show, std::chrono::milliseconds grace)
    : loop_(loop), listen_fd_(listen_fd), claims_(claims), to_name_(std::move(to_name)),
      show_(std::move(show)), grace_(grace), grace_timer_(std::make_unique<GraceTimer>(*this))
{
    loop_.Add(listen_fd_, EPOLLIN, this);
}

Registrations::~Registrations()
{
    loop_.Remove(listen_fd_);
    for (auto& [fd, client] : clients_) loop_.Remove(fd);
}

void Registrations::OnReady(std::uint32_t)
{
    for (;;) {
        const int fd = accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd < 0) return;  // none left, or the system is out of descriptors
        ucred cred{};
        socklen_t size = sizeof cred;
        if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &size) != 0) {
            close(fd);
            continue;
        }
        const std::string who = "uid " + std::to_string(cred.uid) + " pid " + std::to_string(cred.pid);
        if (clients_.size() >= kMaxRegistrationClients || per_user_[cred.uid] >= kMaxClientsPerUser) {
            Log().Write(LogKind::kRefusal, "registration client " + who + " refused: " +
                                               (clients_.size() >= kMaxRegistrationClients
                                                    ? "too many connections"
                                                    : "too many connections from that user"));
            // The name for the answer, if the client has already sent it;
            // nothing waits for it.
            char first[kMaxLine + 1];
            const ssize_t n = recv(fd, first, sizeof first, MSG_DONTWAIT);
            const std::string_view got(first, n > 0 ? static_cast<std::size_t>(n) : 0);
            const std::string_view text = got.substr(0, got.find('\n'));
            const auto said = registration::Parse(text);
            // An empty name counts once its newline has come.
            const bool named = said && said->verb == Verb::kRegister &&
                               (!said->name.empty() || text.size() < got.size());
            const std::string line = Format({Verb::kRefused, named ? Shown(said->name) : "-", {},
                                             registration::Describe(Refusal::kTooMany)});
            send(fd, line.data(), line.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
            close(fd);
            continue;
        }
        auto client = std::make_unique<Client>(*this, fd, cred.uid, cred.pid);
        if (!loop_.Add(fd, EPOLLIN, client.get())) continue;
        ++per_user_[cred.uid];
        clients_.emplace(fd, std::move(client));
    }
}

void Registrations::Register(Client& client, const std::string& login)
{
    const auto refuse = [&](const std::string& shown, Refusal why) {
        const std::string words = registration::Describe(why);
        Log().Write(LogKind::kRefusal, "registration of '" + Shown(login) + "' by " +
                                           client.Who() + " refused: " + words);
        client.Send({Verb::kRefused, shown, {}, words});
    };
    if (client.name) return refuse(Shown(login), Refusal::kAlreadyRegistered);
    const auto own = LoginOf(client.uid());
    if (client.uid() != 0 && (!own || *own != login))
        return refuse(Shown(login), Refusal::kNotOwnLogin);
    const auto name = PlainLogin(login) ? to_name_(login) : std::nullopt;
    if (!name) return refuse(Shown(login), Refusal::kNotNetbiosName);
    // A name held, or left a moment ago, is ours already: registering it
    // again puts nothing on the LAN, so only new claims are counted.
    const bool held = holders_.count(*name) || leaving_.count(*name);
    if (!held && holders_.size() + leaving_.size() >= kMaxRegisteredNames)
        return refuse(show_(*name), Refusal::kTooMany);
    if (!held && !MayClaim(client.uid(), Clock::now()))
        return refuse(show_(*name), Refusal::kTooManyClaims);

    const Standing standing = claims_.Claim(*name);
    if (standing == Standing::kTooMany) return refuse(show_(*name), Refusal::kTooMany);
    if (!held) allowances_[client.uid()].left -= kOneClaim;
    leaving_.erase(*name);
    client.name = name;
    client.login = login;
    ++holders_[*name];
    Log().Write(LogKind::kName, "'" + login + "' registered by " + client.Who());
    Tell(client, standing, 0);
}

void Registrations::Tell(Client& client, Standing standing, std::uint32_t peer)
{
    const std::string name = show_(*client.name);
    switch (standing) {
    case Standing::kClaiming: return client.Send({Verb::kClaiming, name, {}, {}});
    case Standing::kClaimed: return client.Send({Verb::kClaimed, name, {}, {}});
    case Standing::kRefusedByOwner: return client.Send({Verb::kRefused, name, DottedIpv4(peer), {}});
    case Standing::kReleased: return client.Send({Verb::kReleased, name, {}, {}});
    case Standing::kTooMany:
        return client.Send({Verb::kRefused, name, {}, registration::Describe(Refusal::kTooMany)});
    }
}

void Registrations::NameChanged(const netbios::RawName& name, Standing standing,
                                std::uint32_t peer)
{
    const bool lost = standing != Standing::kClaiming && standing != Standing::kClaimed;
    std::vector<Client*> holding;
    for (auto& [fd, client] : clients_)
        if (client->name == name) holding.push_back(client.get());
    for (Client* client : holding) {
        Tell(*client, standing, peer);
        // The name is not ours: these connections hold nothing now, and a
        // later registration tries again.
        if (lost) client->name.reset();
    }
    if (lost) {
        holders_.erase(name);
        leaving_.erase(name);
    }
}

void Registrations::ReleaseAll()
{
    for (auto& [fd, client] : clients_)
        if (client->name) Tell(*client, Standing::kReleased, 0);
}

void Registrations::Close(Client& client)
{
    const int fd = client.fd();
    if (fd < 0) return;
    loop_.Remove(fd);
    if (client.name) {
        auto held = holders_.find(*client.name);
        if (held != holders_.end() && --held->second == 0) {
            holders_.erase(held);
            Log().Write(LogKind::kName, "'" + client.login + "' no longer registered");
            leaving_[*client.name] = Clock::now() + grace_;
            ArmGraceTimer();
        }
    }
    if (--per_user_[client.uid()] == 0) per_user_.erase(client.uid());
    client.Shut();
    auto it = clients_.find(fd);
    if (it != clients_.end()) {
        loop_.Retire(std::move(it->second));
        clients_.erase(it);
    }
}

// A token bucket per user; a user whose bucket is full again is forgotten,
// so the table holds only users who claimed within the last minute or so.
bool Registrations::MayClaim(uid_t uid, Clock::time_point now)
{
    using std::chrono::duration_cast;
    using std::chrono::milliseconds;
    constexpr std::int64_t kFull = kClaimsPerUserBurst * kOneClaim;
    const std::int64_t per_claim_ms = duration_cast<milliseconds>(kUserClaimInterval).count();
    const auto refilled = [&](const Allowance& a) {
        const std::int64_t elapsed = duration_cast<milliseconds>(now - a.last).count();
        return std::min(kFull, a.left + elapsed * kOneClaim / per_claim_ms);
    };
    std::erase_if(allowances_, [&](const auto& entry) {
        return entry.first != uid && refilled(entry.second) >= kFull;
    });
    auto [it, added] = allowances_.try_emplace(uid, Allowance{kFull, now});
    if (!added) it->second = Allowance{refilled(it->second), now};
    return it->second.left >= kOneClaim;
}

// Releases the names whose grace is over, and waits for the next.
void Registrations::ReleaseLeft()
{
    const auto now = Clock::now();
    for (auto it = leaving_.begin(); it != leaving_.end();) {
        if (it->second > now) {
            ++it;
            continue;
        }
        const netbios::RawName name = it->first;
        it = leaving_.erase(it);
        claims_.Release(name);
    }
    ArmGraceTimer();
}

void Registrations::ArmGraceTimer()
{
    std::optional<Clock::time_point> next;
    for (const auto& [name, at] : leaving_)
        if (!next || at < *next) next = at;
    // Zero disarms; a name already due waits a nanosecond.
    const Clock::duration wait =
        next ? std::max<Clock::duration>(*next - Clock::now(), std::chrono::nanoseconds(1))
             : Clock::duration::zero();
    if (!grace_timer_->Arm(wait) && next) {
        // Without a timer the names go at once rather than never.
        Log().Write(LogKind::kService, "registration grace timer failed; releasing at once");
        for (const auto& [name, at] : std::exchange(leaving_, {})) claims_.Release(name);
    }
}

}  // namespace vindrel::daemon
