// The messenger client: resolves a message name with NetBIOS name queries and
// delivers a text to the host holding it with the SMB message commands, the
// way a Windows host's messenger service sends.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/netmsg.h"

namespace vindrel::netbios {

inline constexpr const char* kDefaultSambaConfig = "/etc/samba/smb.conf";

// Every wait of a send has a limit. The defaults decide an unknown name in
// about a quarter of a second (0.2 s more if a WINS server is named and
// stays silent): three broadcasts, since one datagram may be lost, at
// intervals far longer than a LAN's round trip; a late answer to an earlier
// try still counts. A delivery to one host is bounded by `delivery`.
struct ClientLimits {
    std::chrono::milliseconds wins_wait{200};
    int broadcast_tries = 3;
    std::chrono::milliseconds broadcast_interval{80};
    std::chrono::milliseconds node_status_wait{250};  // per try; two tries
    std::chrono::milliseconds connect{1500};
    std::chrono::milliseconds delivery{4000};  // connect, session and message, per host
};

class MessengerClient {
public:
    explicit MessengerClient(std::string config_path = kDefaultSambaConfig,
                             ClientLimits limits = {});

    // Delivers `text` to `name` (a messenger name or "*"), as SendNetMessage
    // does, with no limit on the text's length here. The originator named in
    // the message is `from` when it is a valid name, else this computer.
    NetStatus Send(std::u16string_view name, std::u16string_view text,
                   std::u16string_view from = {});

private:
    std::string config_path_;
    ClientLimits limits_;
};

}  // namespace vindrel::netbios
