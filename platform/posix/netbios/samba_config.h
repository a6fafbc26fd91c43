// The two settings this client takes from a Samba configuration file: the
// computer's NetBIOS name and the WINS server.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vindrel::netbios {

struct SambaSettings {
    std::string netbios_name;             // UTF-8 as written; empty when unset
    std::optional<std::uint32_t> wins;    // IPv4, host byte order
};

// Reads `[global]` only. Parameter names match as Samba matches them:
// ignoring case and white space. Only an IPv4 literal is taken as the WINS
// server, since resolving a host name would send queries elsewhere.
SambaSettings ParseSambaConfig(std::string_view text);

// A missing or unreadable file gives empty settings.
SambaSettings ReadSambaConfig(const std::string& path);

}  // namespace vindrel::netbios
