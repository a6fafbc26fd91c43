// The settings this client takes from a Samba configuration file: the
// computer's NetBIOS name, the WINS server and the DOS code page; and the
// account Samba runs its message command as.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vindrel::netbios {

struct SambaSettings {
    std::string netbios_name;             // UTF-8, at most 15 characters; empty when unset
    std::vector<std::uint32_t> wins;      // IPv4, host byte order, primary first
    std::string dos_charset;              // as written; empty when unset
    std::string guest_account;            // as written; empty when unset
    std::string workgroup;                // UTF-8, at most 15 characters; empty when unset
};

// How far the reader follows `include` and `config file`, and how much it
// reads: a loop of includes or a huge file ends the reading, not the program.
inline constexpr int kMaxConfigDepth = 8;
inline constexpr std::size_t kMaxConfigBytes = 1 << 20;  // per file

// The text of a configuration file, or none when it cannot be read (or is
// larger than kMaxConfigBytes).
using ConfigReader = std::function<std::optional<std::string>(const std::string& path)>;

// Reads `[global]` (also spelt `[globals]`, as Samba accepts) and what comes
// before any section. Parameter names match as Samba matches them: ignoring
// case and white space. `include = FILE` reads FILE in place; `config file =
// FILE` starts over with FILE when it can be read. Both go through `read`
// (none: not followed) and at most kMaxConfigDepth deep; a path holding a
// Samba substitution (%m and the like) is not followed, since its value
// depends on a client this program is not. Only IPv4 literals are taken as
// WINS servers, since resolving a host name would send queries elsewhere.
SambaSettings ParseSambaConfig(std::string_view text, const ConfigReader& read = {});

// A missing or unreadable file gives empty settings.
SambaSettings ReadSambaConfig(const std::string& path);

// Reads a file whole, or none when missing, unreadable or larger than the cap.
std::optional<std::string> ReadConfigFile(const std::string& path);

// `s` without white space at either end.
std::string TrimSpace(std::string_view s);

// A parameter or section name as Samba compares them: white space dropped,
// letters in lower case ("Netbios Name" and "netbiosname" are one key).
std::string ParameterKey(std::string_view s);

}  // namespace vindrel::netbios
