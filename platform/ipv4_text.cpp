// Dotted IPv4 addresses, read and written.
#include "platform/ipv4_text.h"

namespace vindrel {
namespace {

template <typename Char>
std::optional<std::uint32_t> ParseDotted(std::basic_string_view<Char> text)
{
    std::uint32_t address = 0;
    std::size_t at = 0;
    for (int parts = 0; parts < 4; ++parts) {
        if (parts > 0 && (at >= text.size() || text[at++] != Char('.'))) return std::nullopt;
        std::uint32_t part = 0;
        std::size_t digits = 0;
        for (; at < text.size() && text[at] >= Char('0') && text[at] <= Char('9') && digits < 3;
             ++at, ++digits)
            part = part * 10 + static_cast<std::uint32_t>(text[at] - Char('0'));
        if (digits == 0 || part > 255) return std::nullopt;
        address = address << 8 | part;
    }
    if (at != text.size()) return std::nullopt;
    return address;
}

}  // namespace

std::optional<std::uint32_t> ParseDottedIpv4(std::string_view text) { return ParseDotted(text); }

std::optional<std::uint32_t> ParseDottedIpv4(std::u16string_view text) { return ParseDotted(text); }

std::string DottedIpv4(std::uint32_t address)
{
    return std::to_string(address >> 24) + '.' + std::to_string(address >> 16 & 255) + '.' +
           std::to_string(address >> 8 & 255) + '.' + std::to_string(address & 255);
}

bool IsCanonicalDottedIpv4(std::string_view text)
{
    const auto address = ParseDottedIpv4(text);
    return address && DottedIpv4(*address) == text;
}

}  // namespace vindrel
