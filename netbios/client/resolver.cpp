// Name queries and node status requests, and the judging of their answers.
#include "netbios/client/resolver.h"

#include <algorithm>
#include <atomic>
#include <random>
#include <unordered_map>

namespace vindrel::netbios {
namespace {

// Transaction ids start at random so that a stray answer to an earlier run
// is not taken for one to this run.
std::uint16_t NextId()
{
    static std::atomic<std::uint16_t> id{static_cast<std::uint16_t>(std::random_device{}())};
    return ++id;
}

bool IsUsableHost(net::Ipv4 a)
{
    const std::uint32_t first = a >> 24;
    return a != 0 && first != 127 && first < 224;
}

// Waits until `deadline` for datagrams, handing each to `take`; stops early
// when `take` returns true.
template <typename Take>
void ReceiveUntil(net::UdpSocket& socket, net::Deadline deadline, Take take)
{
    std::array<std::uint8_t, 1500> buffer;
    while (const auto got = socket.Receive(buffer, deadline))
        if (take(ByteView(buffer.data(), got->size), *got)) return;
}

// The one broadcast loop: sends `query` to every LAN's broadcast address, up
// to `tries` times at the client's interval, handing each datagram to
// `take` until it returns true or `deadline` passes.
template <typename Take>
void Broadcast(net::UdpSocket& socket, const Bytes& query,
               std::span<const net::Interface> interfaces, const ClientLimits& limits,
               net::Deadline deadline, Take take)
{
    if (interfaces.empty()) return;
    for (int attempt = 0; attempt < limits.broadcast_tries; ++attempt) {
        if (net::Clock::now() >= deadline) return;
        for (const net::Interface& i : interfaces)
            socket.SendTo(query, i.broadcast, kNameServicePort);
        bool done = false;
        ReceiveUntil(socket, std::min(deadline, net::Clock::now() + limits.broadcast_interval),
                     [&](ByteView reply, const net::Datagram& from) {
                         return done = take(reply, from);
                     });
        if (done) return;
    }
}

}  // namespace

AnswerRefusal JudgeWinsAnswer(const QueryAnswer& answer, const net::Datagram& from,
                              net::Ipv4 server)
{
    if (answer.verdict == QueryVerdict::kIgnore) return AnswerRefusal::kNotAnAnswer;
    if (from.source != server || from.port != kNameServicePort) return AnswerRefusal::kNotFromServer;
    if (answer.verdict == QueryVerdict::kPositive && !IsUsableHost(answer.address))
        return AnswerRefusal::kNotLocalHost;
    return AnswerRefusal::kCounted;
}

AnswerRefusal JudgeBroadcastAnswer(const QueryAnswer& answer, const net::Datagram& from,
                                   std::span<const net::Interface> interfaces)
{
    if (answer.verdict != QueryVerdict::kPositive) return AnswerRefusal::kNotAnAnswer;
    if (answer.address != from.source) return AnswerRefusal::kAddressNotSender;
    if (!IsUsableHost(answer.address) ||
        std::none_of(interfaces.begin(), interfaces.end(), [&](const net::Interface& i) {
            return net::IsHostOfSubnet(i, answer.address);
        }))
        return AnswerRefusal::kNotLocalHost;
    return AnswerRefusal::kCounted;
}

AnswerRefusal HostList::Offer(net::Ipv4 address)
{
    AnswerRefusal why = AnswerRefusal::kCounted;
    if (seen_.count(address)) why = AnswerRefusal::kAlreadyKnown;
    else if (hosts_.size() >= limit_) {
        why = AnswerRefusal::kOverHostLimit;
        if (over_limit_.size() < limit_) over_limit_.insert(address);
    } else {
        seen_.insert(address);
        hosts_.push_back(address);
    }
    Count(why);
    return why;
}

std::optional<net::Ipv4> Resolver::Resolve(const RawName& name, std::span<const net::Ipv4> wins,
                                           net::Deadline deadline)
{
    const auto socket = network_.OpenUdp();
    if (!socket) return std::nullopt;
    const std::uint16_t id = NextId();
    std::optional<net::Ipv4> found;

    const auto start = net::Clock::now();
    const auto servers_done = start + (deadline - start) / 2;
    bool answered = false;
    for (std::size_t asked = 0; asked < wins.size() && !answered; ++asked) {
        const auto now = net::Clock::now();
        if (now >= servers_done) break;
        const auto share = std::min<net::Clock::duration>(
            limits_.wins_wait, (servers_done - now) / static_cast<int>(wins.size() - asked));
        socket->SendTo(BuildNameQuery(id, name, false), wins[asked], kNameServicePort);
        // A late answer from a server asked before counts as well.
        const auto asked_so_far = wins.first(asked + 1);
        ReceiveUntil(*socket, now + share, [&](ByteView reply, const net::Datagram& from) {
            const QueryAnswer a = JudgeNameQueryReply(reply, id, name);
            if (std::none_of(asked_so_far.begin(), asked_so_far.end(), [&](net::Ipv4 server) {
                    return JudgeWinsAnswer(a, from, server) == AnswerRefusal::kCounted;
                }))
                return false;
            // The server asked may say that nobody has the name.
            if (a.verdict == QueryVerdict::kPositive) found = a.address;
            return answered = true;
        });
    }
    if (found) return found;

    const std::vector<net::Interface> interfaces = network_.Interfaces();
    Broadcast(*socket, BuildNameQuery(id, name, true), interfaces, limits_, deadline,
              [&](ByteView reply, const net::Datagram& from) {
                  const QueryAnswer a = JudgeNameQueryReply(reply, id, name);
                  if (JudgeBroadcastAnswer(a, from, interfaces) != AnswerRefusal::kCounted)
                      return false;
                  found = a.address;
                  return true;
              });
    return found;
}

HostList Resolver::FindEveryone(net::Deadline deadline)
{
    HostList hosts(MaxHosts(limits_));
    const auto socket = network_.OpenUdp();
    const std::vector<net::Interface> interfaces = network_.Interfaces();
    if (!socket) return hosts;
    socket->ReserveReceiveBuffer(limits_.receive_buffer);
    const std::uint16_t id = NextId();
    const RawName wildcard = WildcardName();
    Broadcast(*socket, BuildNameQuery(id, wildcard, true), interfaces, limits_, deadline,
              [&](ByteView reply, const net::Datagram& from) {
                  const QueryAnswer a = JudgeNameQueryReply(reply, id, wildcard);
                  const AnswerRefusal why = JudgeBroadcastAnswer(a, from, interfaces);
                  if (why == AnswerRefusal::kCounted) hosts.Offer(a.address);
                  else hosts.Count(why);
                  return false;
              });
    return hosts;
}

std::vector<HostNames> Resolver::NamesOf(std::span<const net::Ipv4> hosts,
                                         net::Deadline deadline)
{
    std::vector<HostNames> found(hosts.size());
    std::unordered_map<net::Ipv4, std::size_t> asked;
    for (std::size_t i = 0; i < hosts.size(); ++i) {
        found[i].address = hosts[i];
        asked.emplace(hosts[i], i);
    }
    const auto socket = network_.OpenUdp();
    if (!socket || hosts.empty()) return found;
    socket->ReserveReceiveBuffer(limits_.receive_buffer);
    const std::uint16_t id = NextId();
    const Bytes request = BuildNodeStatusRequest(id);
    std::size_t unanswered = asked.size();
    std::array<std::uint8_t, 1500> buffer;
    for (int attempt = 0; attempt < 2 && unanswered > 0 && net::Clock::now() < deadline;
         ++attempt) {
        for (const HostNames& host : found)
            if (!host.answered) socket->SendTo(request, host.address, kNameServicePort);
        const auto until = std::min(deadline, net::Clock::now() + limits_.node_status_wait);
        while (unanswered > 0) {
            const auto got = socket->Receive(buffer, until);
            if (!got) break;
            const auto at = asked.find(got->source);
            if (at == asked.end() || found[at->second].answered) continue;
            const auto names = ParseNodeStatusReply(ByteView(buffer.data(), got->size), id);
            if (!names) continue;
            HostNames& host = found[at->second];
            host.answered = true;
            --unanswered;
            for (const NodeName& entry : *names) {
                if (!host.computer && !entry.group() && entry.name[15] == kWorkstationSuffix)
                    host.computer = entry.name;
                if (IsMessengerName(entry) && host.messenger.size() < kMaxNamesPerHost)
                    host.messenger.push_back(entry.name);
            }
            // A receiver of messages alone lists no <00> name; its first
            // messenger name is its computer's.
            if (!host.computer && !host.messenger.empty()) host.computer = host.messenger.front();
        }
    }
    return found;
}

}  // namespace vindrel::netbios
