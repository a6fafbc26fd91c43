// The receiving side's name service: claims, defence, answers and releases.
#include "netbios/server/name_server.h"

#include <algorithm>
#include <utility>

namespace vindrel::netbios {
namespace {

using std::chrono::duration_cast;
using std::chrono::milliseconds;
using std::chrono::seconds;

constexpr std::int64_t kOneAnswer = 1000;

bool SameName15(const RawName& a, const RawName& b)
{
    return std::equal(a.begin(), a.begin() + kNameChars, b.begin());
}

// "*" padded with NULs or spaces: every name of the node.
bool IsWildcard(const RawName& name) { return NameText(name) == "*" && name[15] == 0; }

bool Refill(std::int64_t& tokens, net::Clock::time_point& last, net::Clock::time_point now,
            int burst, int per_second)
{
    if (now > last) {
        const std::int64_t elapsed = duration_cast<milliseconds>(now - last).count();
        tokens = std::min<std::int64_t>(burst * kOneAnswer, tokens + elapsed * per_second);
        last = now;
    }
    return tokens >= kOneAnswer;
}

}  // namespace

NameServer::NameServer(NameServerConfig config)
    : config_(std::move(config)), wins_wanted_(config_.wins_server), id_state_(config_.seed)
{
    // Without an address of our own there is nothing to register with it.
    if (config_.interfaces.empty()) config_.wins_server = 0;
}

// --- the names ------------------------------------------------------------------

ClaimResult NameServer::Claim(const RawName& name, net::Clock::time_point now)
{
    if (Find(name)) return ClaimResult::kAlreadyHeld;
    if (names_.size() >= kMaxHeldNames) return ClaimResult::kTooManyNames;
    Held held;
    held.name = name;
    names_.push_back(held);
    BeginClaim(names_.back(), now);
    return ClaimResult::kStarted;
}

// A claim from its start, on every interface and with the WINS server.
void NameServer::BeginClaim(Held& held, net::Clock::time_point now)
{
    held.state = NameState::kClaiming;
    held.claim_id = NewId();
    held.broadcasts = 0;
    held.broadcasts_done = false;
    held.next_broadcast = now;
    held.wins = Wins::kNone;
    held.wins_backoff = seconds(0);
    Emit(NameEventKind::kClaiming, held.name, 0);
    if (config_.wins_server != 0) StartWins(held, false, now);
    Step(held, now);
}

bool NameServer::Release(const RawName& asked, net::Clock::time_point)
{
    const RawName name = asked;  // the caller's may be a reference into the table
    const Held* held = Find(name);
    if (!held) return false;
    // Whatever the server last said, it may hold the name for us: tell it.
    SendReleases(*held, true, held->wins != Wins::kNone);
    Emit(NameEventKind::kReleased, name, 0);
    Drop(name);
    return true;
}

void NameServer::ReleaseAll(net::Clock::time_point now)
{
    while (!names_.empty()) Release(names_.front().name, now);
}

void NameServer::SetInterfaces(std::vector<net::Interface> interfaces, net::Clock::time_point now)
{
    const auto has = [](const std::vector<net::Interface>& list, net::Ipv4 address) {
        return std::any_of(list.begin(), list.end(),
                           [address](const net::Interface& i) { return i.address == address; });
    };
    for (const Held& held : names_) {
        if (held.state != NameState::kClaimed) continue;
        for (const net::Interface& i : config_.interfaces)
            if (!has(interfaces, i.address))
                Send(BuildNameRelease(NewId(), held.name, NbFlags(), i.address, true), i.broadcast,
                     kNameServicePort, i.address);
    }
    const bool added =
        std::any_of(interfaces.begin(), interfaces.end(),
                    [&](const net::Interface& i) { return !has(config_.interfaces, i.address); });
    const net::Ipv4 wins_from = config_.wins_server != 0 ? WinsLocalAddress() : 0;
    config_.interfaces = std::move(interfaces);
    config_.wins_server = config_.interfaces.empty() ? 0 : wins_wanted_;
    const net::Ipv4 wins_now = config_.wins_server != 0 ? WinsLocalAddress() : 0;
    // The server holds the names at the address we had: released there
    // (from the address we have now), a new registration does not make it
    // ask a host that is gone and wait for its silence.
    if (wins_from != 0 && wins_now != 0 && wins_now != wins_from)
        for (const Held& held : names_)
            if (held.wins != Wins::kNone)
                Send(BuildNameRelease(NewId(), held.name, NbFlags(), wins_from, false),
                     config_.wins_server, kNameServicePort, wins_now);
    if (!config_.interfaces.empty() && (added || wins_now != wins_from)) {
        for (Held& held : names_) BeginClaim(held, now);
        return;
    }
    if (config_.wins_server == 0)
        for (Held& held : names_) held.wins = Wins::kNone;
}

std::optional<NameState> NameServer::StateOf(const RawName& name) const
{
    for (const Held& held : names_)
        if (held.name == name) return held.state;
    return std::nullopt;
}

void NameServer::OnTimer(net::Clock::time_point now)
{
    for (Held& held : names_) Step(held, now);
}

std::optional<net::Clock::time_point> NameServer::NextTimer() const
{
    std::optional<net::Clock::time_point> next;
    const auto consider = [&next](net::Clock::time_point t) {
        if (!next || t < *next) next = t;
    };
    for (const Held& held : names_) {
        if (held.state == NameState::kClaiming && !held.broadcasts_done)
            consider(held.next_broadcast);
        if (held.wins != Wins::kNone) consider(held.wins_at);
    }
    return next;
}

std::vector<OutgoingDatagram> NameServer::TakeOutgoing() { return std::exchange(outgoing_, {}); }

std::vector<NameEvent> NameServer::TakeEvents() { return std::exchange(events_, {}); }

// Everything that is due for one name: the claim's broadcasts and its end,
// and the WINS server's retries, refreshes and give-ups.
void NameServer::Step(Held& held, net::Clock::time_point now)
{
    if (held.state == NameState::kClaiming && !held.broadcasts_done && now >= held.next_broadcast) {
        if (held.broadcasts < kClaimBroadcasts) {
            SendClaimBroadcasts(held);
            ++held.broadcasts;
            held.next_broadcast = now + kClaimInterval;
        } else {
            // Silence after the last try: nobody on the LAN holds the name.
            held.broadcasts_done = true;
        }
    }
    if (held.wins != Wins::kNone && now >= held.wins_at) {
        if (held.wins == Wins::kRegistering) {
            if (held.wins_tries < kWinsTries) {
                ++held.wins_tries;
                SendWins(held);
                held.wins_at = now + kWinsInterval;
            } else {
                WinsSilent(held, now);
            }
        } else {
            StartWins(held, held.wins == Wins::kRegistered, now);
        }
    }
    MaybeClaimed(held);
}

void NameServer::SendClaimBroadcasts(const Held& held)
{
    for (const net::Interface& i : config_.interfaces)
        Send(BuildNameRegistration(held.claim_id, held.name, NbFlags(), i.address,
                                   kNameTtlSeconds, true),
             i.broadcast, kNameServicePort, i.address);
}

void NameServer::StartWins(Held& held, bool refresh, net::Clock::time_point now)
{
    held.wins = Wins::kRegistering;
    held.wins_refreshing = refresh;
    held.wins_id = NewId();
    held.wins_tries = 1;
    held.wins_at = now + kWinsInterval;
    SendWins(held);
}

void NameServer::SendWins(const Held& held)
{
    const net::Ipv4 local = WinsLocalAddress();
    Send(held.wins_refreshing
             ? BuildNameRefresh(held.wins_id, held.name, NbFlags(), local, kNameTtlSeconds)
             : BuildNameRegistration(held.wins_id, held.name, NbFlags(), local, kNameTtlSeconds,
                                     false),
         config_.wins_server, kNameServicePort, local);
}

// The server said nothing: the name stands on the LAN alone for now.
void NameServer::WinsSilent(Held& held, net::Clock::time_point now)
{
    Emit(NameEventKind::kWinsSilent, held.name, config_.wins_server);
    AskWinsLater(held, now);
}

// The server gives the name to someone else. The LAN's own claim decides
// who holds it there: a server that was lied to, or that did not hear our
// answer to its challenge, must not take the name off the broadcast LAN.
void NameServer::WinsRefused(Held& held, net::Ipv4 owner, NameRcode rcode,
                             net::Clock::time_point now)
{
    Emit(NameEventKind::kWinsRefused, held.name, owner, NameRefusal::kNone, 0, rcode);
    AskWinsLater(held, now);
    MaybeClaimed(held);
}

// Less often each time the server stays silent or refuses.
void NameServer::AskWinsLater(Held& held, net::Clock::time_point now)
{
    held.wins = Wins::kRetry;
    held.wins_backoff = held.wins_backoff.count() == 0
                            ? kWinsShortestRefresh
                            : std::min(held.wins_backoff * 2, kWinsLongestRetry);
    held.wins_at = now + held.wins_backoff;
}

void NameServer::MaybeClaimed(Held& held)
{
    if (held.state != NameState::kClaiming || !held.broadcasts_done ||
        held.wins == Wins::kRegistering)
        return;
    held.state = NameState::kClaimed;
    Emit(NameEventKind::kClaimed, held.name, 0);
}

void NameServer::SendReleases(const Held& held, bool on_lan, bool with_wins)
{
    if (on_lan)
        for (const net::Interface& i : config_.interfaces)
            Send(BuildNameRelease(NewId(), held.name, NbFlags(), i.address, true), i.broadcast,
                 kNameServicePort, i.address);
    if (with_wins) {
        const net::Ipv4 local = WinsLocalAddress();
        Send(BuildNameRelease(NewId(), held.name, NbFlags(), local, false), config_.wins_server,
             kNameServicePort, local);
    }
}

void NameServer::Drop(const RawName& name)
{
    std::erase_if(names_, [&name](const Held& held) { return held.name == name; });
}

void NameServer::Refuse(Held& held, NameRefusal why, net::Ipv4 peer)
{
    // A name already announced on the LAN is withdrawn there, and a WINS
    // server that may hold it for us is told.
    SendReleases(held, held.state == NameState::kClaimed, held.wins != Wins::kNone);
    const RawName name = held.name;
    Emit(NameEventKind::kRefused, name, peer, why);
    Drop(name);
}

// --- what arrives ------------------------------------------------------------------

void NameServer::OnDatagram(ByteView data, net::Ipv4 source, std::uint16_t port,
                            net::Ipv4 local_address, net::Clock::time_point now)
{
    const net::Interface* arrived_on = InterfaceAt(local_address);
    if (!arrived_on || port == 0) return;
    const auto packet = ParseNamePacket(data);
    // From this computer only questions are taken: our own broadcasts come
    // back to us, and a local program must not change what we hold.
    const bool local = IsOurAddress(source) || (source >> 24) == 127;
    if (!packet || (local && (packet->response || packet->opcode != NameOpcode::kQuery))) return;
    if (packet->response)
        OnResponse(*packet, source, *arrived_on, now);
    else
        OnRequest(*packet, source, port, *arrived_on, now);
}

void NameServer::OnRequest(const NamePacket& packet, net::Ipv4 source, std::uint16_t port,
                           const net::Interface& arrived_on, net::Clock::time_point now)
{
    if (!packet.has_question) return;
    Held* held = Find(packet.question);
    const bool ours = held && held->state == NameState::kClaimed;
    switch (packet.opcode) {
    case NameOpcode::kQuery:
        if (packet.question_type == RecordType::kNbstat)
            return AnswerNodeStatus(packet, source, port, arrived_on, now);
        // "*" asks every node that holds a name: a sender's "everyone".
        if (!ours && !(IsWildcard(packet.question) && HoldsAny())) break;
        if (!MayAnswer(source, port, Budget::kSource, now)) return;
        return Send(BuildNameQueryResponse(packet.id, packet.question, NbFlags(),
                                           arrived_on.address, kNameTtlSeconds),
                    source, port, arrived_on.address);
    case NameOpcode::kRegistration:
    case NameOpcode::kMultiHomed:
        if (!ours || !packet.has_record || !packet.has_address ||
            packet.record_name != held->name || IsOurAddress(packet.address))
            break;
        return Defend(*held, packet, source, port, arrived_on, now);
    default:
        break;
    }
}

void NameServer::AnswerNodeStatus(const NamePacket& packet, net::Ipv4 source, std::uint16_t port,
                                  const net::Interface& arrived_on, net::Clock::time_point now)
{
    std::vector<NodeName> listed;
    const auto flags = static_cast<std::uint16_t>(NbFlags() | kNbActive);
    bool asked_for_us = IsWildcard(packet.question);
    for (const Held& held : names_) {
        if (held.state != NameState::kClaimed) continue;
        asked_for_us = asked_for_us || SameName15(held.name, packet.question);
        if (listed.size() < kMaxStatusNames)
            listed.push_back(NodeName{held.name, flags});
    }
    if (!asked_for_us || listed.empty()) return;
    if (!MayAnswer(source, port, Budget::kSourceAndShared, now)) return;
    Send(BuildNodeStatusResponse(packet.id, packet.question, listed), source, port,
         arrived_on.address);
}

void NameServer::Defend(Held& held, const NamePacket& packet, net::Ipv4 source,
                        std::uint16_t port, const net::Interface& arrived_on,
                        net::Clock::time_point now)
{
    if (!MayAnswer(source, port, Budget::kSourceAndShared, now)) return;
    Send(BuildRegistrationResponse(packet.id, held.name, NameRcode::kActive, packet.nb_flags,
                                   packet.address),
         source, port, arrived_on.address);
    // One line per name and interval however often it is tried.
    if (!held.defence_reported || now - *held.defence_reported >= kLimitReportInterval) {
        held.defence_reported = now;
        Emit(NameEventKind::kDefended, held.name, source);
    }
}

void NameServer::OnResponse(const NamePacket& packet, net::Ipv4 source,
                            const net::Interface& arrived_on, net::Clock::time_point now)
{
    if (!packet.has_record) return;
    Held* held = Find(packet.record_name);
    if (!held) return;
    const bool from_wins = config_.wins_server != 0 && source == config_.wins_server &&
                           held->wins == Wins::kRegistering && packet.id == held->wins_id;
    if (from_wins) {
        switch (packet.opcode) {
        case NameOpcode::kWack: {
            // The server is asking the name's owner; wait, but not for ever.
            const seconds wait = std::min<seconds>(seconds(packet.ttl), kWinsLongestWack);
            held->wins_at = now + wait;
            return;
        }
        case NameOpcode::kRegistration:
        case NameOpcode::kRefresh:
        case NameOpcode::kRefreshAlt:
            break;
        default:
            return;
        }
        if (packet.rcode != NameRcode::kOk)
            return WinsRefused(*held, config_.wins_server, packet.rcode, now);
        // A positive answer that names another address is the server telling
        // us who owns the name at the server. Only a plain unicast address is
        // passed on as the owner.
        if (packet.has_address && packet.address != WinsLocalAddress()) {
            const bool plain = packet.address != 0 && packet.address != 0xFFFFFFFF &&
                               (packet.address >> 28) < 0xE && (packet.address >> 24) != 127;
            return WinsRefused(*held, plain ? packet.address : config_.wins_server,
                               NameRcode::kOk, now);
        }
        const seconds refresh =
            std::clamp<seconds>(seconds(packet.ttl / 2), kWinsShortestRefresh, kWinsLongestRefresh);
        held->wins = Wins::kRegistered;
        held->wins_at = now + refresh;
        held->wins_backoff = seconds(0);
        Emit(NameEventKind::kWinsRegistered, held->name, config_.wins_server, NameRefusal::kNone,
             packet.ttl);
        MaybeClaimed(*held);
        return;
    }
    // A host that owns the name objects to our claim. Only a host of the
    // subnet our broadcast reached, answering that very broadcast, counts.
    if (packet.opcode == NameOpcode::kRegistration && packet.rcode != NameRcode::kOk &&
        held->state == NameState::kClaiming && packet.id == held->claim_id &&
        net::IsHostOfSubnet(arrived_on, source))
        return Refuse(*held, NameRefusal::kOwnedOnLan, source);
}

// --- helpers --------------------------------------------------------------------------

bool NameServer::MayAnswer(net::Ipv4 source, std::uint16_t port, Budget budget,
                           net::Clock::time_point now)
{
    // Anyone may forge the WINS server's address, but the answers then go to
    // the server, one for one.
    if (config_.wins_server != 0 && source == config_.wins_server && port == kNameServicePort)
        return true;
    if (!shared_bucket_started_) {
        shared_bucket_ = Bucket{0, kAnswersBurst * kOneAnswer, now};
        shared_bucket_started_ = true;
    }
    auto bucket = std::find_if(buckets_.begin(), buckets_.end(),
                               [source](const Bucket& b) { return b.source == source; });
    if (bucket == buckets_.end()) {
        const Bucket fresh{source, kAnswersPerSourceBurst * kOneAnswer, now};
        if (buckets_.size() < kRateTableSize) {
            buckets_.push_back(fresh);
            bucket = buckets_.end() - 1;
        } else {
            // The table is full: forget the source heard from longest ago.
            bucket = std::min_element(
                buckets_.begin(), buckets_.end(),
                [](const Bucket& a, const Bucket& b) { return a.last < b.last; });
            *bucket = fresh;
        }
    }
    const bool source_ok = Refill(bucket->tokens, bucket->last, now, kAnswersPerSourceBurst,
                                  kAnswersPerSourcePerSecond);
    const bool shared = budget == Budget::kSourceAndShared;
    const bool shared_ok = !shared || Refill(shared_bucket_.tokens, shared_bucket_.last, now,
                                             kAnswersBurst, kAnswersPerSecond);
    if (source_ok && shared_ok) {
        bucket->tokens -= kOneAnswer;
        if (shared) shared_bucket_.tokens -= kOneAnswer;
        return true;
    }
    ++stats_.limited;
    ++limited_unreported_;
    if (!limits_reported_ || now - *limits_reported_ >= kLimitReportInterval) {
        limits_reported_ = now;
        Emit(NameEventKind::kAnswersLimited, RawName{}, source, NameRefusal::kNone,
             static_cast<std::uint32_t>(std::min<std::uint64_t>(limited_unreported_, UINT32_MAX)));
        limited_unreported_ = 0;
    }
    return false;
}

NameServer::Held* NameServer::Find(const RawName& name)
{
    for (Held& held : names_)
        if (held.name == name) return &held;
    return nullptr;
}

const net::Interface* NameServer::InterfaceAt(net::Ipv4 local_address) const
{
    for (const net::Interface& i : config_.interfaces)
        if (i.address == local_address) return &i;
    return nullptr;
}

bool NameServer::HoldsAny() const
{
    return std::any_of(names_.begin(), names_.end(),
                       [](const Held& held) { return held.state == NameState::kClaimed; });
}

bool NameServer::IsOurAddress(net::Ipv4 address) const { return InterfaceAt(address) != nullptr; }

// A linear congruential step; the app's seed makes the sequence its own.
std::uint16_t NameServer::NewId()
{
    id_state_ = id_state_ * 1664525u + 1013904223u;
    return static_cast<std::uint16_t>(id_state_ >> 16);
}

// A node with a WINS server registers there as well as on the LAN: an M node.
std::uint16_t NameServer::NbFlags() const
{
    return config_.wins_server != 0 ? kNbOntM : kNbOntB;
}

// The address the WINS server should know us by: the one on its subnet, if
// any, else the first.
net::Ipv4 NameServer::WinsLocalAddress() const
{
    for (const net::Interface& i : config_.interfaces)
        if ((config_.wins_server & i.netmask) == (i.address & i.netmask)) return i.address;
    return config_.interfaces.empty() ? 0 : config_.interfaces.front().address;
}

void NameServer::Send(Bytes bytes, net::Ipv4 address, std::uint16_t port, net::Ipv4 from)
{
    if (bytes.empty()) return;  // a builder refused: a count did not fit
    outgoing_.push_back(OutgoingDatagram{std::move(bytes), address, port, from});
}

void NameServer::Emit(NameEventKind kind, const RawName& name, net::Ipv4 peer, NameRefusal refusal,
                      std::uint32_t count, NameRcode rcode)
{
    events_.push_back(NameEvent{kind, name, peer, refusal, count, rcode});
}

}  // namespace vindrel::netbios
