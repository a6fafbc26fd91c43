// The service's configuration: /etc/vindrel/vindreld.conf, read strictly,
// with every key it leaves out taken from the Samba configuration as the
// sending side reads it, so the computer has one identity both ways.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vindrel::daemon {

inline constexpr char kDefaultConfig[] = "/etc/vindrel/vindreld.conf";
inline constexpr char kSection[] = "vindreld";
// Far more than any real file; a larger one is refused, not read on.
inline constexpr std::size_t kMaxConfigLine = 1024;
inline constexpr std::size_t kMaxExtraNames = 16;
// The group whose messages are received when neither file names one.
inline constexpr char kDefaultWorkgroup[] = "WORKGROUP";

struct DaemonConfig {
    std::string netbios_name;          // UTF-8 as written; empty: decided later
    std::vector<std::string> names;    // extra messenger names, UTF-8
    std::string dos_charset;           // empty: CP850
    std::optional<std::uint32_t> wins; // IPv4, host byte order
    std::vector<std::string> interfaces;  // names or IPv4 addresses; empty: all
    // UTF-8; messages sent to this group (as datagrams) are received.
    std::string workgroup;
    // Which keys the file set, so that only the others fall back.
    bool has_name = false, has_wins = false, has_charset = false, has_workgroup = false;
};

// Parses the file's text. On a bad line, `error` is "FILE:LINE: why" and the
// answer is none. `file` only names the file in that message.
std::optional<DaemonConfig> ParseDaemonConfig(std::string_view text, const std::string& file,
                                              std::string& error);

// Reads `path` (a missing file at the default path means "no settings";
// anywhere else it is an error), then fills the keys it left out from the
// Samba configuration at `samba_path`.
std::optional<DaemonConfig> LoadDaemonConfig(const std::string& path, bool path_given,
                                             const std::string& samba_path, std::string& error);

}  // namespace vindrel::daemon
