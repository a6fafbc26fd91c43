// Wiring the service's parts to one loop, and turning name events into log
// lines and answers to the registered inboxes.
#include "app/vindreld/receiver.h"

#include <sys/epoll.h>
#include <sys/random.h>
#include <unistd.h>

#include <algorithm>

#include "app/vindreld/event_log.h"
#include "platform/ipv4_text.h"
#include "platform/utf8.h"

namespace vindrel::daemon {
namespace {

// How often the ports are looked at again: reading the kernel's TCP tables
// takes milliseconds (it walks every bucket), too long for every turn.
constexpr auto kPortCheckInterval = std::chrono::minutes(1);

std::uint32_t Unpredictable()
{
    std::uint32_t seed = 0;
    if (getrandom(&seed, sizeof seed, 0) != sizeof seed)
        seed = static_cast<std::uint32_t>(Clock::now().time_since_epoch().count());
    return seed;
}

netbios::NameServerConfig ServerConfig(const ReceiverSetup& setup)
{
    netbios::NameServerConfig config;
    for (const ServedInterface& i : setup.interfaces) config.interfaces.push_back(i.lan);
    config.wins_server = setup.wins;
    config.seed = Unpredictable();
    return config;
}

}  // namespace

class Receiver::StopWatcher final : public Watcher {
public:
    explicit StopWatcher(int fd) : fd_(fd) {}
    void OnReady(std::uint32_t) override { stopping = true; }
    bool stopping = false;
    int fd_;
};

Receiver::Receiver(ReceiverSetup setup, const ListenSockets& sockets, int stop_fd)
    : setup_(std::move(setup)), names_(ServerConfig(setup_)),
      keeper_(loop_, setup_.spool, setup_.code_page), ports_(ServicePorts(sockets)),
      next_port_check_(Clock::now() + kPortCheckInterval), activated_(sockets.activated)
{
    port_ = std::make_unique<NameServicePort>(loop_, sockets.name_service, names_,
                                              setup_.interfaces, [this] { OnNameEvents(); });
    sessions_ = std::make_unique<SessionServer>(
        loop_, sockets.session,
        // A name still being claimed takes sessions: it is ours unless a
        // conflict ends it, and a sender that found us at once must not be
        // turned away for the claim's 750 ms.
        [this](const netbios::RawName& called) { return names_.StateOf(called).has_value(); },
        keeper_, [this](std::uint32_t local) { return IsServed(local); });
    if (sockets.datagram >= 0)
        datagrams_ = std::make_unique<DatagramPort>(
            loop_, sockets.datagram, setup_.interfaces,
            [this](const netbios::RawName& name) { return names_.StateOf(name).has_value(); },
            setup_.workgroup, keeper_);
    registrations_ = std::make_unique<Registrations>(
        loop_, sockets.registration, *this,
        [this](const std::string& login) {
            return netbios::MakeName(Utf8ToUtf16(login), netbios::kMessengerSuffix,
                                     *setup_.code_page);
        },
        [this](const netbios::RawName& name) { return Show(name); });
    std::string error;
    interface_watcher_ = std::make_unique<InterfaceWatcher>(loop_, error);
    if (!interface_watcher_->ok())
        Log().Write(LogKind::kService,
                    error + "; the interfaces found at start are served until restart");
    stop_ = std::make_unique<StopWatcher>(stop_fd);
    loop_.Add(stop_fd, EPOLLIN, stop_.get());
}

Receiver::~Receiver()
{
    loop_.Remove(stop_->fd_);
}

std::string Receiver::Show(const netbios::RawName& name) const
{
    return Utf16ToUtf8(setup_.code_page->Decode(netbios::NameText(name)));
}

bool Receiver::Permanent(const netbios::RawName& name) const
{
    return std::find(setup_.names.begin(), setup_.names.end(), name) != setup_.names.end();
}

bool Receiver::IsServed(std::uint32_t address) const
{
    return std::any_of(setup_.interfaces.begin(), setup_.interfaces.end(),
                       [address](const ServedInterface& i) { return i.lan.address == address; });
}

// Reads the interfaces again after a change and, when the served ones
// differ, moves the name service and the sessions to them.
void Receiver::FollowInterfaces(Clock::time_point now)
{
    std::vector<std::string> unmatched;
    std::vector<ServedInterface> found = FindInterfaces(setup_.wanted_interfaces, unmatched);
    const auto same = [](const ServedInterface& a, const ServedInterface& b) {
        return a.name == b.name && a.index == b.index && a.lan.address == b.lan.address &&
               a.lan.netmask == b.lan.netmask && a.lan.broadcast == b.lan.broadcast;
    };
    if (std::equal(found.begin(), found.end(), setup_.interfaces.begin(), setup_.interfaces.end(),
                   same))
        return;
    setup_.interfaces = std::move(found);
    std::string served;
    std::vector<net::Interface> lans;
    for (const ServedInterface& i : setup_.interfaces) {
        served += " " + i.name + " " + DottedIpv4(i.lan.address);
        lans.push_back(i.lan);
    }
    Log().Write(LogKind::kService,
                "interfaces now:" + (served.empty() ? std::string(" none") : served));
    port_->SetInterfaces(setup_.interfaces);
    if (datagrams_) datagrams_->SetInterfaces(setup_.interfaces);
    names_.SetInterfaces(std::move(lans), now);
}

Standing Receiver::Claim(const netbios::RawName& name)
{
    switch (names_.Claim(name, Clock::now())) {
    case netbios::ClaimResult::kStarted: return Standing::kClaiming;
    case netbios::ClaimResult::kAlreadyHeld: break;
    case netbios::ClaimResult::kTooManyNames: return Standing::kTooMany;
    }
    return names_.StateOf(name) == netbios::NameState::kClaimed ? Standing::kClaimed
                                                                 : Standing::kClaiming;
}

void Receiver::Release(const netbios::RawName& name)
{
    // The computer's own names stay, whoever else registered them too.
    if (!Permanent(name)) names_.Release(name, Clock::now());
}

void Receiver::CheckPorts(Clock::time_point now)
{
    if (now < next_port_check_) return;
    next_port_check_ = now + kPortCheckInterval;
    const auto holder = FindOtherHolder(ports_);
    if (holder && !ports_shared_)
        Log().Write(LogKind::kService, Describe(*holder) +
                                           " beside vindreld, which name queries and sessions "
                                           "may reach instead: " + kOneOwnerAdvice);
    ports_shared_ = holder.has_value();
}

void Receiver::OnNameEvents()
{
    using netbios::NameEventKind;
    for (const netbios::NameEvent& e : names_.TakeEvents()) {
        const std::string name = Show(e.name) + "<03>";
        switch (e.kind) {
        case NameEventKind::kClaiming:
            Log().Write(LogKind::kName, "claiming " + name);
            break;
        case NameEventKind::kClaimed:
            Log().Write(LogKind::kName, name + " claimed");
            registrations_->NameChanged(e.name, Standing::kClaimed, 0);
            break;
        case NameEventKind::kRefused:
            Log().Write(LogKind::kName, name + " not taken: " + DottedIpv4(e.peer) + " owns it");
            registrations_->NameChanged(e.name, Standing::kRefusedByOwner, e.peer);
            break;
        case NameEventKind::kReleased:
            Log().Write(LogKind::kName, name + " released");
            break;
        case NameEventKind::kDefended:
            Log().Write(LogKind::kName, name + " defended against " + DottedIpv4(e.peer));
            break;
        case NameEventKind::kWinsRegistered:
            Log().Write(LogKind::kName, name + " registered with the WINS server for " +
                                            std::to_string(e.count) + " s");
            break;
        case NameEventKind::kWinsSilent:
            Log().Write(LogKind::kName, name + ": the WINS server does not answer; trying later");
            break;
        case NameEventKind::kWinsRefused: {
            const std::string said =
                e.rcode != netbios::NameRcode::kOk
                    ? "refused it (rcode " + std::to_string(static_cast<int>(e.rcode)) + ")"
                    : "says " + DottedIpv4(e.peer) + " holds it";
            Log().Write(LogKind::kName, name + ": the WINS server " + DottedIpv4(setup_.wins) + " " +
                                            said + "; kept on the LAN, asking the server again later");
            break;
        }
        case NameEventKind::kAnswersLimited:
            Log().Write(LogKind::kRefusal, std::to_string(e.count) +
                                               " name service answers refused by the rate limits"
                                               " (the latest to " + DottedIpv4(e.peer) + ")");
            break;
        }
    }
}

bool Receiver::Run()
{
    if (!loop_.ok() || !keeper_.ok()) return false;
    for (const netbios::RawName& name : setup_.names) names_.Claim(name, Clock::now());
    // Once stopping: the writes handed over get their answers, within a bound.
    std::optional<Clock::time_point> stop_by;
    for (;;) {
        OnNameEvents();
        port_->SendOutgoing();
        if (stop_->stopping && !stop_by) {
            stop_by = Clock::now() + kKeepingAtStop;
            loop_.Remove(stop_->fd_);  // the signal stays pending; the loop must not spin on it
        }
        if (stop_by && (keeper_.unanswered() == 0 || Clock::now() >= *stop_by)) break;
        std::optional<Clock::time_point> until = names_.NextTimer();
        if (const auto session = sessions_->NextDeadline(); session && (!until || *session < *until))
            until = session;
        if (stop_by && (!until || *stop_by < *until)) until = stop_by;
        if (const auto report = datagrams_ ? datagrams_->NextDeadline() : std::nullopt;
            report && (!until || *report < *until))
            until = report;
        if (!until || next_port_check_ < *until) until = next_port_check_;
        if (const auto settle = interface_watcher_->NextDeadline();
            settle && (!until || *settle < *until))
            until = settle;
        if (!loop_.RunOnce(until)) return false;
        const auto now = Clock::now();
        CheckPorts(now);
        if (interface_watcher_->TakeDue(now)) FollowInterfaces(now);
        if (const auto timer = names_.NextTimer(); timer && *timer <= now) names_.OnTimer(now);
        sessions_->OnTimer(now);
        if (datagrams_) datagrams_->OnTimer(now);
        if (!stop_by) sessions_->KeepFinished();
    }
    names_.ReleaseAll(Clock::now());
    OnNameEvents();
    // Each release, broadcast or sent to the WINS server, brings one
    // datagram back: its echo or the server's answer. systemd still listens
    // on our socket, and either would start the service again at once.
    const int releases = port_->SendOutgoing();
    if (activated_) port_->DrainReturns(releases, Clock::now() + kReturnWait);
    registrations_->ReleaseAll();
    return true;
}

}  // namespace vindrel::daemon
