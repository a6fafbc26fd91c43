// Reading the Samba configuration file.
#include "platform/posix/netbios/samba_config.h"

#include <arpa/inet.h>

#include <cctype>
#include <fstream>
#include <sstream>
#include <vector>

namespace vindrel::netbios {
namespace {

std::string Trim(std::string_view s)
{
    std::size_t b = 0, e = s.size();
    while (b < e && std::isspace(static_cast<unsigned char>(s[b]))) ++b;
    while (e > b && std::isspace(static_cast<unsigned char>(s[e - 1]))) --e;
    return std::string(s.substr(b, e - b));
}

std::string Squeeze(std::string_view s)
{
    std::string out;
    for (const char c : s)
        if (!std::isspace(static_cast<unsigned char>(c)))
            out += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

// Joins continuation lines (a trailing backslash) into logical lines.
std::vector<std::string> LogicalLines(std::string_view text)
{
    std::vector<std::string> lines;
    std::string current;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        std::string line(text.substr(start, end - start));
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty() && line.back() == '\\') {
            line.pop_back();
            current += line;
        } else {
            lines.push_back(current + line);
            current.clear();
        }
        start = end + 1;
    }
    if (!current.empty()) lines.push_back(current);
    return lines;
}

std::optional<std::uint32_t> FirstIpv4(std::string_view list)
{
    std::string word;
    std::istringstream words{std::string(list)};
    while (words >> word) {
        for (std::string part; !word.empty();) {
            const std::size_t comma = word.find(',');
            part = word.substr(0, comma);
            word = comma == std::string::npos ? std::string() : word.substr(comma + 1);
            // "address:tag" names a WINS server group; the address is what counts.
            const std::size_t colon = part.find(':');
            if (colon != std::string::npos) part.resize(colon);
            in_addr addr{};
            if (!part.empty() && inet_pton(AF_INET, part.c_str(), &addr) == 1)
                return ntohl(addr.s_addr);
        }
    }
    return std::nullopt;
}

}  // namespace

SambaSettings ParseSambaConfig(std::string_view text)
{
    SambaSettings settings;
    bool in_global = true;  // parameters before any section count as global
    for (const std::string& raw : LogicalLines(text)) {
        const std::string line = Trim(raw);
        if (line.empty() || line[0] == '#' || line[0] == ';') continue;
        if (line[0] == '[') {
            const std::size_t close = line.find(']');
            in_global = close != std::string::npos && Squeeze(line.substr(1, close - 1)) == "global";
            continue;
        }
        if (!in_global) continue;
        const std::size_t eq = line.find('=');
        if (eq == std::string::npos) continue;
        const std::string key = Squeeze(line.substr(0, eq));
        const std::string value = Trim(line.substr(eq + 1));
        if (key == "netbiosname") settings.netbios_name = value;
        else if (key == "winsserver") settings.wins = FirstIpv4(value);
    }
    return settings;
}

SambaSettings ReadSambaConfig(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    if (!file) return {};
    std::ostringstream text;
    text << file.rdbuf();
    return ParseSambaConfig(text.str());
}

}  // namespace vindrel::netbios
