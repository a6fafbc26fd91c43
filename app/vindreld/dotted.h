// An IPv4 address (host byte order) as log lines and answers write it.
#pragma once

#include <cstdint>
#include <string>

namespace vindrel::daemon {

inline std::string Dotted(std::uint32_t a)
{
    return std::to_string(a >> 24) + "." + std::to_string(a >> 16 & 255) + "." +
           std::to_string(a >> 8 & 255) + "." + std::to_string(a & 255);
}

}  // namespace vindrel::daemon
