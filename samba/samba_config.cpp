// Reading the Samba configuration file, with its includes.
#include "samba/samba_config.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <vector>

#include "platform/ipv4_text.h"

namespace vindrel::netbios {
namespace {

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

// Each server once, in the order given: the client asks them in turn.
std::vector<std::uint32_t> Ipv4List(std::string_view list)
{
    // Plain splitting, not a string stream: the stream classes would pull
    // the library's locale machinery into every program that links this,
    // vindrel.exe included.
    std::vector<std::uint32_t> out;
    auto space = [](char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; };
    for (std::size_t at = 0; at < list.size();) {
        while (at < list.size() && space(list[at])) ++at;
        std::size_t end = at;
        while (end < list.size() && !space(list[end])) ++end;
        std::string word(list.substr(at, end - at));
        at = end;
        for (std::string part; !word.empty();) {
            const std::size_t comma = word.find(',');
            part = word.substr(0, comma);
            word = comma == std::string::npos ? std::string() : word.substr(comma + 1);
            // "address:tag" names a WINS server group; the address is what counts.
            const std::size_t colon = part.find(':');
            if (colon != std::string::npos) part.resize(colon);
            const auto address = ParseDottedIpv4(part);
            if (address && std::find(out.begin(), out.end(), *address) == out.end())
                out.push_back(*address);
        }
    }
    return out;
}

// The first `n` characters of UTF-8 text (continuation bytes do not count).
std::string FirstChars(const std::string& utf8, std::size_t n)
{
    std::size_t chars = 0;
    for (std::size_t i = 0; i < utf8.size(); ++i) {
        if ((static_cast<unsigned char>(utf8[i]) & 0xC0) == 0x80) continue;
        if (chars++ == n) return utf8.substr(0, i);
    }
    return utf8;
}

class Parser {
public:
    explicit Parser(const ConfigReader& read) : read_(read) {}

    void Parse(std::string_view text, int depth)
    {
        for (const std::string& raw : LogicalLines(text)) {
            if (restarted_ > depth) return;  // a deeper `config file` took over
            const std::string line = TrimSpace(raw);
            if (line.empty() || line[0] == '#' || line[0] == ';') continue;
            if (line[0] == '[') {
                const std::size_t close = line.find(']');
                const std::string section = close == std::string::npos
                                                ? std::string()
                                                : ParameterKey(line.substr(1, close - 1));
                in_global_ = section == "global" || section == "globals";
                continue;
            }
            const std::size_t eq = line.find('=');
            if (eq == std::string::npos) continue;
            const std::string key = ParameterKey(line.substr(0, eq));
            const std::string value = TrimSpace(line.substr(eq + 1));
            // Samba honours an include in any section; what it holds belongs
            // to the section it is read in.
            if (key == "include") {
                Follow(value, depth);
                continue;
            }
            if (!in_global_) continue;
            if (key == "configfile") {
                if (depth >= kMaxConfigDepth || !Followable(value)) continue;
                const auto other = read_(value);
                if (!other) continue;
                settings_ = {};
                in_global_ = true;
                restarted_ = depth + 1;
                Parse(*other, depth + 1);
                return;
            }
            if (key == "netbiosname") settings_.netbios_name = FirstChars(value, 15);
            else if (key == "winsserver") settings_.wins = Ipv4List(value);
            else if (key == "doscharset") settings_.dos_charset = value;
            else if (key == "guestaccount") settings_.guest_account = value;
            else if (key == "workgroup") settings_.workgroup = FirstChars(value, 15);
        }
    }

    SambaSettings settings_;

private:
    bool Followable(const std::string& path) const
    {
        return read_ && !path.empty() && path.find('%') == std::string::npos;
    }

    void Follow(const std::string& path, int depth)
    {
        if (depth >= kMaxConfigDepth || !Followable(path)) return;
        if (const auto text = read_(path)) Parse(*text, depth + 1);
    }

    const ConfigReader& read_;
    bool in_global_ = true;  // parameters before any section count as global
    int restarted_ = -1;
};

}  // namespace

std::string TrimSpace(std::string_view s)
{
    std::size_t b = 0, e = s.size();
    while (b < e && std::isspace(static_cast<unsigned char>(s[b]))) ++b;
    while (e > b && std::isspace(static_cast<unsigned char>(s[e - 1]))) --e;
    return std::string(s.substr(b, e - b));
}

std::string ParameterKey(std::string_view s)
{
    std::string out;
    for (const char c : s)
        if (!std::isspace(static_cast<unsigned char>(c)))
            out += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

SambaSettings ParseSambaConfig(std::string_view text, const ConfigReader& read)
{
    Parser parser(read);
    parser.Parse(text, 0);
    return parser.settings_;
}

std::optional<std::string> ReadConfigFile(const std::string& path)
{
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) return std::nullopt;
    std::string text;
    char chunk[4096];
    bool too_big = false;
    for (std::size_t n; (n = std::fread(chunk, 1, sizeof chunk, file)) > 0;) {
        text.append(chunk, n);
        // A device or a runaway file is refused, not read to its end.
        if (text.size() > kMaxConfigBytes) {
            too_big = true;
            break;
        }
    }
    const bool failed = std::ferror(file) != 0;
    std::fclose(file);
    if (too_big || failed) return std::nullopt;
    return text;
}

SambaSettings ReadSambaConfig(const std::string& path)
{
    const auto text = ReadConfigFile(path);
    if (!text) return {};
    return ParseSambaConfig(*text, ReadConfigFile);
}

}  // namespace vindrel::netbios
