// This user's cache of the LAN's names on POSIX systems: where it lives, and
// reading and replacing it.
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>

#include "platform/lan_names.h"
#include "platform/utf8.h"

namespace vindrel {
namespace {

// A cache line is a name, a computer name and an address: far less than this.
constexpr std::size_t kMaxLine = 256;

}  // namespace

std::string NameCachePath()
{
    // As the base directory rules say: an unset or relative value is ignored.
    const char* cache = std::getenv("XDG_CACHE_HOME");
    if (cache != nullptr && cache[0] == '/') return std::string(cache) + "/vindrel/lan-names";
    const char* home = std::getenv("HOME");
    if (home != nullptr && home[0] == '/') return std::string(home) + "/.cache/vindrel/lan-names";
    return {};
}

std::optional<std::vector<LanName>> ReadNameCache(const std::string& path)
{
    if (path.empty()) return std::nullopt;
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::vector<LanName> names;
    std::string line;
    while (names.size() < kMaxCachedNames && std::getline(in, line))
        if (line.size() <= kMaxLine)
            if (auto name = ParseNameLine(Utf8ToUtf16(line))) names.push_back(std::move(*name));
    return names;
}

bool WriteNameCache(const std::string& path, const std::vector<LanName>& names)
{
    if (path.empty()) return false;
    std::error_code error;
    const std::filesystem::path file(path);
    std::filesystem::create_directories(file.parent_path(), error);
    const std::filesystem::path temporary = file.string() + ".new";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        for (std::size_t i = 0; i < names.size() && i < kMaxCachedNames; ++i)
            out << Utf16ToUtf8(NameLine(names[i])) << '\n';
        if (!out.flush()) return false;
    }
    std::filesystem::rename(temporary, file, error);
    return !error;
}

}  // namespace vindrel
