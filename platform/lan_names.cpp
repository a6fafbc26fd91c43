// The listing's lines, as printed and as the cache keeps them.
#include "platform/lan_names.h"

#include "platform/ipv4_text.h"
#include "platform/utf8.h"

namespace vindrel {

std::u16string AddressText(std::uint32_t address)
{
    return Utf8ToUtf16(DottedIpv4(address));
}

std::u16string NameLine(const LanName& name)
{
    return name.name + u'\t' + name.computer + u'\t' + AddressText(name.address);
}

std::optional<LanName> ParseNameLine(std::u16string_view line)
{
    const auto first = line.find(u'\t');
    if (first == std::u16string_view::npos || first == 0) return std::nullopt;
    const auto second = line.find(u'\t', first + 1);
    if (second == std::u16string_view::npos) return std::nullopt;
    const auto address = ParseDottedIpv4(line.substr(second + 1));
    if (!address) return std::nullopt;
    return LanName{std::u16string(line.substr(0, first)),
                   std::u16string(line.substr(first + 1, second - first - 1)), *address};
}

}  // namespace vindrel
