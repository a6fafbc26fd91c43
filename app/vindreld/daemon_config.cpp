// Strict reading of vindreld.conf: one section, six keys, and an error that
// names the file and line for anything else, since a service that guessed
// would answer for names nobody meant it to.
#include "app/vindreld/daemon_config.h"

#include <errno.h>
#include <iconv.h>

#include <cctype>
#include <cstring>

#include "netbios/codec/nb_name.h"
#include "platform/ipv4_text.h"
#include "samba/samba_config.h"

namespace vindrel::daemon {
namespace {

using netbios::ParameterKey;
using netbios::TrimSpace;

std::vector<std::string> Words(std::string_view s)
{
    std::vector<std::string> out;
    std::string word;
    for (const char c : s) {
        if (std::isspace(static_cast<unsigned char>(c)) || c == ',') {
            if (!word.empty()) out.push_back(std::move(word));
            word.clear();
        } else {
            word += c;
        }
    }
    if (!word.empty()) out.push_back(std::move(word));
    return out;
}

// What can be judged before the code page is known: the rest (a character
// the code page lacks) is judged when the name is made.
std::optional<std::string> NameProblem(const std::string& name)
{
    std::size_t chars = 0;
    for (const char c : name) {
        const auto b = static_cast<unsigned char>(c);
        if (b < 0x20 || b == 0x7F) return "holds a control character";
        if (c == '*' || c == '.') return "holds '*' or '.'";
        if ((b & 0xC0) != 0x80) ++chars;
    }
    if (chars == 0) return "is empty";
    if (chars > netbios::kNameChars)
        return "is longer than " + std::to_string(netbios::kNameChars) + " characters";
    return std::nullopt;
}

bool CharsetKnown(const std::string& charset)
{
    const iconv_t cd = iconv_open("UTF-8", charset.c_str());
    if (cd == reinterpret_cast<iconv_t>(-1)) return false;
    iconv_close(cd);
    return true;
}

}  // namespace

std::optional<DaemonConfig> ParseDaemonConfig(std::string_view text, const std::string& file,
                                              std::string& error)
{
    DaemonConfig config;
    bool in_section = false;
    bool seen[6] = {};
    int number = 0;
    const auto fail = [&](const std::string& why) {
        error = file + ":" + std::to_string(number) + ": " + why;
        return std::nullopt;
    };
    for (std::size_t start = 0; start < text.size();) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        const std::string_view raw = text.substr(start, end - start);
        start = end + 1;
        ++number;
        if (raw.size() > kMaxConfigLine) return fail("line longer than " + std::to_string(kMaxConfigLine) + " bytes");
        const std::string line = TrimSpace(raw);
        if (line.empty() || line[0] == '#' || line[0] == ';') continue;
        if (line[0] == '[') {
            if (line.back() != ']') return fail("a section header must end in ']'");
            const std::string section = ParameterKey(line.substr(1, line.size() - 2));
            if (section != kSection)
                return fail("unknown section [" + line.substr(1, line.size() - 2) +
                            "]; this file has only [vindreld]");
            in_section = true;
            continue;
        }
        const std::size_t eq = line.find('=');
        if (eq == std::string::npos) return fail("expected 'key = value'");
        if (!in_section) return fail("a setting before the [vindreld] section");
        const std::string key = ParameterKey(line.substr(0, eq));
        const std::string value = TrimSpace(line.substr(eq + 1));
        static const char* const kKeys[] = {"netbiosname", "names",      "doscharset",
                                            "winsserver",  "interfaces", "workgroup"};
        int which = -1;
        for (int i = 0; i < 6; ++i)
            if (key == kKeys[i]) which = i;
        if (which < 0)
            return fail("unknown key '" + TrimSpace(line.substr(0, eq)) +
                        "'; known: netbios name, names, dos charset, wins server, interfaces, "
                        "workgroup");
        if (seen[which]) return fail("'" + TrimSpace(line.substr(0, eq)) + "' set twice");
        seen[which] = true;
        switch (which) {
        case 0:
            if (const auto why = NameProblem(value))
                return fail("netbios name '" + value + "' " + *why);
            config.netbios_name = value;
            config.has_name = true;
            break;
        case 1:
            config.names = Words(value);
            if (config.names.size() > kMaxExtraNames)
                return fail("more than " + std::to_string(kMaxExtraNames) + " names");
            for (const std::string& name : config.names)
                if (const auto why = NameProblem(name))
                    return fail("name '" + name + "' " + *why);
            break;
        case 2:
            if (value.empty() || !CharsetKnown(value))
                return fail("dos charset '" + value + "' is not a character set this system knows");
            config.dos_charset = value;
            config.has_charset = true;
            break;
        case 3:
            // Only an address: looking a host name up would send queries elsewhere.
            if (!(config.wins = ParseDottedIpv4(value)))
                return fail("wins server '" + value + "' is not an IPv4 address");
            config.has_wins = true;
            break;
        case 4:
            config.interfaces = Words(value);
            if (config.interfaces.empty()) return fail("interfaces is empty");
            break;
        case 5:
            if (const auto why = NameProblem(value))
                return fail("workgroup '" + value + "' " + *why);
            config.workgroup = value;
            config.has_workgroup = true;
            break;
        }
    }
    return config;
}

std::optional<DaemonConfig> LoadDaemonConfig(const std::string& path, bool path_given,
                                             const std::string& samba_path, std::string& error)
{
    DaemonConfig config;
    errno = 0;
    if (const auto text = netbios::ReadConfigFile(path)) {
        auto parsed = ParseDaemonConfig(*text, path, error);
        if (!parsed) return std::nullopt;
        config = std::move(*parsed);
    } else if (path_given || errno != ENOENT) {
        error = path + ": cannot read it: " +
                (errno != 0 ? std::strerror(errno) : "larger than 1 MiB");
        return std::nullopt;
    }
    const netbios::SambaSettings samba = netbios::ReadSambaConfig(samba_path);
    if (!config.has_name) config.netbios_name = samba.netbios_name;
    // Names are registered with one server: Samba's primary.
    if (!config.has_wins && !samba.wins.empty()) config.wins = samba.wins.front();
    // Samba's own setting, unchecked there: an unknown one means CP850, as
    // the sending side takes it.
    if (!config.has_charset) config.dos_charset = samba.dos_charset;
    if (!config.has_workgroup)
        config.workgroup = samba.workgroup.empty() ? kDefaultWorkgroup : samba.workgroup;
    return config;
}

}  // namespace vindrel::daemon
