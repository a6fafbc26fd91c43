// Where this user's cache of the LAN's names lives on POSIX systems.
#include <cstdlib>
#include <string>

#include "platform/lan_names.h"

namespace vindrel {

std::string NameCachePath()
{
    // As the base directory rules say: an unset or relative value is ignored.
    const char* cache = std::getenv("XDG_CACHE_HOME");
    if (cache != nullptr && cache[0] == '/') return std::string(cache) + "/vindrel/lan-names";
    const char* home = std::getenv("HOME");
    if (home != nullptr && home[0] == '/') return std::string(home) + "/.cache/vindrel/lan-names";
    return {};
}

}  // namespace vindrel
