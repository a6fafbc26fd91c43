// The IPv4 interfaces the service answers on: every one that is up, not
// loopback and can broadcast, limited to those the configuration's
// `interfaces` names (by interface name or address).
#pragma once

#include <string>
#include <vector>

#include "platform/network.h"

namespace vindrel::daemon {

struct ServedInterface {
    std::string name;      // eth0
    unsigned index = 0;    // the kernel's interface index
    net::Interface lan;    // address, netmask, broadcast
};

// `wanted` empty: all. `unmatched` gets each wanted entry that matched none.
std::vector<ServedInterface> FindInterfaces(const std::vector<std::string>& wanted,
                                            std::vector<std::string>& unmatched);

}  // namespace vindrel::daemon
