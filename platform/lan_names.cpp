// The listing's lines, as printed and as the cache keeps them.
#include "platform/lan_names.h"

#include <cstdio>

#include "platform/utf8.h"

namespace vindrel {
namespace {

std::optional<std::uint32_t> ParseAddress(std::u16string_view text)
{
    std::uint32_t address = 0;
    int parts = 0;
    std::size_t at = 0;
    while (parts < 4) {
        std::uint32_t part = 0;
        std::size_t digits = 0;
        for (; at < text.size() && text[at] >= u'0' && text[at] <= u'9' && digits < 3; ++at, ++digits)
            part = part * 10 + (text[at] - u'0');
        if (digits == 0 || part > 255) return std::nullopt;
        address = address << 8 | part;
        if (++parts < 4 && (at >= text.size() || text[at++] != u'.')) return std::nullopt;
    }
    if (at != text.size()) return std::nullopt;
    return address;
}

}  // namespace

std::u16string AddressText(std::uint32_t address)
{
    char text[16];
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", address >> 24, (address >> 16) & 0xFF,
                  (address >> 8) & 0xFF, address & 0xFF);
    return Utf8ToUtf16(text);
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
    const auto address = ParseAddress(line.substr(second + 1));
    if (!address) return std::nullopt;
    return LanName{std::u16string(line.substr(0, first)),
                   std::u16string(line.substr(first + 1, second - first - 1)), *address};
}

}  // namespace vindrel
