// The order of a send: configuration, this computer's name, resolution and
// delivery; for "*", every host of the LANs served a few at a time.
#include "netbios/client/messenger_client.h"

#include <algorithm>
#include <atomic>
#include <optional>
#include <set>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "netbios/client/resolver.h"
#include "netbios/codec/nb_name.h"
#include "platform/cp850.h"
#include "platform/utf8.h"
#include "samba/samba_config.h"

namespace vindrel::netbios {
RawName ComputerName(std::string_view netbios_name, net::Network& network,
                     const net::CodePage& code_page, std::uint8_t suffix)
{
    if (!netbios_name.empty())
        if (const auto name = MakeName(Utf8ToUtf16(netbios_name), suffix, code_page)) return *name;
    std::u16string label = network.ComputerName();
    for (char16_t& c : label) c = ToUpperName(c);
    std::string oem = code_page.EncodeText(label).substr(0, kNameChars);
    std::replace(oem.begin(), oem.end(), '\0', '?');
    if (oem.empty()) oem = "LOCALHOST";
    RawName raw;
    raw.fill(' ');
    std::copy(oem.begin(), oem.end(), raw.begin());
    raw[15] = suffix;
    return raw;
}

MessengerClient::MessengerClient(net::Network& network, std::string config_path,
                                 ClientLimits limits)
    : network_(network), config_path_(std::move(config_path)), limits_(limits)
{
}

SendOutcome MessengerClient::Send(std::u16string_view name, std::u16string_view text,
                                std::u16string_view from)
{
    const SambaSettings settings = Settings();
    const auto code_page = network_.OemCodePage(settings.dos_charset);
    Sender sender;
    sender.calling = ComputerName(settings.netbios_name, network_, *code_page, kWorkstationSuffix);

    const auto from_name = code_page->EncodeName(from);
    sender.originator = from_name && !from_name->empty() &&
                                from_name->find('\0') == std::string::npos
                            ? *from_name
                            : NameText(sender.calling);

    const std::string oem_text = code_page->EncodeText(text);
    if (name == u"*") return SendToEveryone(sender, oem_text);

    const auto messenger = MakeName(name, kMessengerSuffix, *code_page);
    if (!messenger) return {SendOutcome::Result::kNameNotFound};
    const auto deadline = net::Clock::now() + limits_.send;
    // The configured servers, else every one the system's adapters name.
    const std::vector<net::Ipv4> wins =
        settings.wins.empty() ? network_.WinsServers() : settings.wins;
    const auto address = Resolver(network_, limits_).Resolve(*messenger, wins, deadline);
    if (!address) return {SendOutcome::Result::kNameNotFound};
    return {Deliver(network_, *address, *messenger, sender, oem_text, limits_, deadline)};
}

SambaSettings MessengerClient::Settings() const
{
    return config_path_.empty() ? SambaSettings{} : ReadSambaConfig(config_path_);
}

std::vector<net::Ipv4> MessengerClient::FindHosts(Resolver& resolver, net::Deadline deadline)
{
    const HostList found = resolver.FindEveryone(deadline);
    last_everyone_ = {};
    last_everyone_.hosts = found.hosts().size();
    for (std::size_t i = 0; i < kAnswerRefusals; ++i)
        if (i != static_cast<std::size_t>(AnswerRefusal::kCounted))
            last_everyone_.refused_answers += found.refusals(static_cast<AnswerRefusal>(i));
    last_everyone_.over_limit = found.refusals(AnswerRefusal::kOverHostLimit);
    last_everyone_.hosts_over_limit = found.hosts_over_limit();
    return found.hosts();
}

SendOutcome MessengerClient::SendToEveryone(const Sender& sender, const std::string& text)
{
    const auto deadline = net::Clock::now() + limits_.everyone;
    Resolver resolver(network_, limits_);
    const std::vector<net::Ipv4> hosts = FindHosts(resolver, deadline);
    if (hosts.empty()) return {SendOutcome::Result::kNameNotFound, 0, EveryoneCounts{}};
    const std::vector<HostNames> named = resolver.NamesOf(hosts, deadline);

    // A host on two LANs answers from two addresses with one messenger name;
    // the address that answered first is served, the other is skipped.
    using R = SendOutcome::Result;
    std::vector<std::optional<R>> results(hosts.size());
    std::vector<std::size_t> targets;
    std::set<RawName> names;
    for (std::size_t i = 0; i < named.size(); ++i) {
        if (named[i].messenger.empty()) results[i] = R::kNameNotFound;
        else if (names.insert(named[i].messenger.front()).second) targets.push_back(i);
        else ++last_everyone_.same_name;
    }

    // Each host is served by one worker, within its own delivery limit.
    std::atomic<std::size_t> next{0};
    std::atomic<std::size_t> untried{0};
    const auto serve = [&] {
        for (std::size_t k; (k = next++) < targets.size();) {
            const std::size_t i = targets[k];
            if (net::Clock::now() >= deadline) {
                results[i] = R::kNoConnection;  // never connected: no time was left
                ++untried;
                continue;
            }
            results[i] = Deliver(network_, hosts[i], named[i].messenger.front(), sender, text,
                                 limits_, deadline);
        }
    };
    const std::size_t workers = std::min<std::size_t>(
        targets.size(), static_cast<std::size_t>(std::max(1, limits_.concurrency)));
    std::vector<std::thread> threads;
    for (std::size_t w = 1; w < workers; ++w) {
        try {
            threads.emplace_back(serve);
        } catch (const std::system_error&) {
            break;  // fewer workers serve the same hosts, only later
        }
    }
    serve();
    for (std::thread& t : threads) t.join();

    last_everyone_.untried = untried;
    std::optional<R> first_failure;
    for (const auto& result : results) {
        if (!result) continue;
        if (*result == R::kDelivered) ++last_everyone_.delivered;
        else if (!first_failure) first_failure = *result;
    }
    const EveryoneCounts counts{last_everyone_.delivered, last_everyone_.not_tried()};
    if (last_everyone_.delivered > 0) return {R::kDelivered, 0, counts};
    return {first_failure.value_or(R::kNameNotFound), 0, counts};
}

LanNames MessengerClient::ListNames()
{
    const SambaSettings settings = Settings();
    const auto code_page = network_.OemCodePage(settings.dos_charset);
    const auto deadline = net::Clock::now() + limits_.everyone;
    Resolver resolver(network_, limits_);
    const std::vector<net::Ipv4> hosts = FindHosts(resolver, deadline);
    LanNames listed;
    listed.hosts_missed = last_everyone_.hosts_over_limit;
    for (const HostNames& host : resolver.NamesOf(hosts, deadline)) {
        const std::u16string computer =
            host.computer ? code_page->Decode(NameText(*host.computer)) : std::u16string();
        for (const RawName& raw : host.messenger) {
            std::u16string name = code_page->Decode(NameText(raw));
            // A byte the code page lacks: a name nobody could type to send.
            if (name.find(u'\uFFFD') != std::u16string::npos) continue;
            listed.names.push_back({std::move(name), computer, host.address});
        }
    }
    // Each name once: the host that answered the wildcard query first keeps it.
    std::stable_sort(listed.names.begin(), listed.names.end(),
                     [](const LanName& a, const LanName& b) { return a.name < b.name; });
    listed.names.erase(std::unique(listed.names.begin(), listed.names.end(),
                                   [](const LanName& a, const LanName& b) {
                                       return a.name == b.name;
                                   }),
                       listed.names.end());
    return listed;
}

}  // namespace vindrel::netbios
