// The interface list from getifaddrs.
#include "app/vindreld/served_interfaces.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>

#include <algorithm>

#include "platform/ipv4_text.h"

namespace vindrel::daemon {

std::vector<ServedInterface> FindInterfaces(const std::vector<std::string>& wanted,
                                            std::vector<std::string>& unmatched)
{
    std::vector<ServedInterface> all;
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) == 0) {
        const auto field = [](const sockaddr* sa) {
            return ntohl(reinterpret_cast<const sockaddr_in*>(sa)->sin_addr.s_addr);
        };
        for (ifaddrs* i = list; i != nullptr; i = i->ifa_next) {
            if (i->ifa_addr == nullptr || i->ifa_addr->sa_family != AF_INET ||
                i->ifa_netmask == nullptr || i->ifa_broadaddr == nullptr ||
                !(i->ifa_flags & IFF_UP) || (i->ifa_flags & IFF_LOOPBACK) ||
                !(i->ifa_flags & IFF_BROADCAST))
                continue;
            ServedInterface found{i->ifa_name, if_nametoindex(i->ifa_name),
                                  {field(i->ifa_addr), field(i->ifa_netmask),
                                   field(i->ifa_broadaddr)}};
            if (found.lan.address == 0 || found.lan.broadcast == 0 || found.index == 0) continue;
            if (std::none_of(all.begin(), all.end(), [&](const ServedInterface& o) {
                    return o.lan.address == found.lan.address;
                }))
                all.push_back(found);
        }
        freeifaddrs(list);
    }
    unmatched.clear();
    if (wanted.empty()) return all;
    std::vector<ServedInterface> out;
    for (const std::string& want : wanted) {
        const auto address = ParseDottedIpv4(want);
        bool matched = false;
        for (const ServedInterface& i : all) {
            if (i.name != want && !(address && *address == i.lan.address)) continue;
            matched = true;
            if (std::none_of(out.begin(), out.end(), [&](const ServedInterface& o) {
                    return o.lan.address == i.lan.address;
                }))
                out.push_back(i);
        }
        if (!matched) unmatched.push_back(want);
    }
    return out;
}

}  // namespace vindrel::daemon
