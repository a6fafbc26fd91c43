// The messenger client: resolves a message name with NetBIOS name queries and
// delivers a text to the host holding it with the SMB message commands, the
// way a Windows host's messenger service sends.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "netbios/client/client_limits.h"
#include "netbios/client/delivery.h"
#include "netbios/client/resolver.h"
#include "netbios/codec/nb_name.h"
#include "platform/lan_names.h"
#include "platform/netmsg.h"
#include "platform/network.h"
#include "samba/samba_config.h"

namespace vindrel::netbios {

inline constexpr const char* kDefaultSambaConfig = "/etc/samba/smb.conf";

// What the last "*" send met.
struct EveryoneReport {
    std::size_t hosts = 0;              // hosts counted from the wildcard answers
    std::size_t refused_answers = 0;    // answers that did not count, any reason
    std::size_t over_limit = 0;         // of those, beyond MaxHosts()
    std::size_t hosts_over_limit = 0;   // the hosts that sent them, each once
    std::size_t untried = 0;            // hosts counted but not tried by the deadline
    std::size_t same_name = 0;          // hosts skipped: their messenger name was served
    std::size_t delivered = 0;

    // The hosts that answered but were never tried: "*" fell short of them.
    std::size_t not_tried() const { return hosts_over_limit + untried; }
};

class MessengerClient {
public:
    // `network` must outlive the client. An empty `config_path` reads no
    // Samba configuration.
    explicit MessengerClient(net::Network& network, std::string config_path = kDefaultSambaConfig,
                             ClientLimits limits = {});

    // Delivers `text` to `name` (a messenger name or "*"), as SendTo does,
    // with no limit on the text's length here. The originator named in the
    // message is `from` when it is a valid name, else this computer. For
    // "*": delivered when any computer took it, else the first failure in
    // answer order; with the counts reached and not reached.
    SendOutcome Send(std::u16string_view name, std::u16string_view text,
                   std::u16string_view from = {});

    const EveryoneReport& last_everyone() const { return last_everyone_; }

    // Every messenger name on the LANs, as "*" would reach them (see
    // ListLanNames).
    LanNames ListNames();

private:
    SambaSettings Settings() const;
    // The hosts that answer the wildcard query, with last_everyone() begun.
    std::vector<net::Ipv4> FindHosts(Resolver& resolver, net::Deadline deadline);
    SendOutcome SendToEveryone(const Sender& sender, const std::string& text);

    net::Network& network_;
    std::string config_path_;
    ClientLimits limits_;
    EveryoneReport last_everyone_;
};

// This computer's NetBIOS name with `suffix`: `netbios_name` (a configured
// `netbios name`, UTF-8) when it is a valid name, else the system's name
// upper-cased and cut to 15 bytes of the code page (a character it lacks
// becomes "?"), else "LOCALHOST". The sending side calls itself by it and
// the receiving side answers to it, so the computer has one identity.
RawName ComputerName(std::string_view netbios_name, net::Network& network,
                     const net::CodePage& code_page, std::uint8_t suffix);

}  // namespace vindrel::netbios
