// The names on the LAN: every messenger name that can be reached now, and
// the per-user cache of the last listing that completion reads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vindrel {

// One messenger name: the name, the computer that holds it and its address
// (IPv4, host byte order).
struct LanName {
    std::u16string name;
    std::u16string computer;
    std::uint32_t address = 0;
    bool operator==(const LanName&) const = default;
};

struct LanNames {
    std::vector<LanName> names;    // sorted by name, each name once
    std::size_t hosts_missed = 0;  // hosts that answered but were not asked: a limit or the time
};

// Every messenger name on the LANs this computer serves, found as "*" finds
// hosts, within the same limits. Names a WINS server holds for other subnets
// are not among them: a WINS server cannot be asked for its list.
// Each platform links exactly one definition.
LanNames ListLanNames();

// "a.b.c.d".
std::u16string AddressText(std::uint32_t address);

// One name as a line of the listing and of the cache: name, computer and
// address, separated by tabs (a name may hold spaces), no line end.
std::u16string NameLine(const LanName& name);
// A line of the cache read back; none when it is not one.
std::optional<LanName> ParseNameLine(std::u16string_view line);

// The cache at `path` (UTF-8 lines): the names of the last listing, at most
// kMaxCachedNames. None when there is no cache or it cannot be read.
// The cache and its path are POSIX only; Windows keeps none.
inline constexpr std::size_t kMaxCachedNames = 8192;
std::optional<std::vector<LanName>> ReadNameCache(const std::string& path);
// Replaces the cache whole (written beside it, then renamed), making its
// folder; false when it could not be written.
bool WriteNameCache(const std::string& path, const std::vector<LanName>& names);

// This user's cache: $XDG_CACHE_HOME/vindrel/lan-names, else under
// ~/.cache; empty where the platform keeps none.
std::string NameCachePath();

}  // namespace vindrel
