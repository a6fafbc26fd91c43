// NetBIOS name building and first-level encoding.
#include "netbios/codec/nb_name.h"

#include "platform/cp850.h"

namespace vindrel::netbios {

std::optional<RawName> MakeName(std::u16string_view name, std::uint8_t suffix)
{
    return MakeName(name, suffix, Cp850());
}

std::optional<RawName> MakeName(std::u16string_view name, std::uint8_t suffix,
                                const net::CodePage& code_page)
{
    std::u16string upper(name);
    for (char16_t& c : upper) c = ToUpperName(c);
    const auto oem = code_page.EncodeName(upper);
    if (!oem || oem->empty() || oem->size() > kNameChars) return std::nullopt;
    // A NUL would end the name early in the SMB strings that carry it.
    if (oem->find('\0') != std::string::npos) return std::nullopt;
    RawName raw;
    raw.fill(' ');
    for (std::size_t i = 0; i < oem->size(); ++i) raw[i] = static_cast<std::uint8_t>((*oem)[i]);
    raw[15] = suffix;
    return raw;
}

RawName WildcardName()
{
    RawName raw{};
    raw[0] = '*';
    return raw;
}

std::string NameText(const RawName& name)
{
    std::size_t end = kNameChars;
    while (end > 0 && (name[end - 1] == ' ' || name[end - 1] == 0)) --end;
    return std::string(name.begin(), name.begin() + static_cast<std::ptrdiff_t>(end));
}

void EncodeName(const RawName& name, Writer& out)
{
    out.U8(32);
    for (const std::uint8_t b : name) {
        out.U8(static_cast<std::uint8_t>('A' + (b >> 4)));
        out.U8(static_cast<std::uint8_t>('A' + (b & 0x0F)));
    }
    out.U8(0);  // empty scope
}

bool DecodeName(Reader& in, RawName& name)
{
    Reader probe = in;
    std::uint8_t length = 0;
    ByteView label;
    std::uint8_t scope_end = 0xFF;
    if (!probe.U8(length) || length != 32 || !probe.Take(32, label) || !probe.U8(scope_end) ||
        scope_end != 0)
        return false;
    RawName decoded;
    for (std::size_t i = 0; i < 16; ++i) {
        const std::uint8_t hi = label[2 * i], lo = label[2 * i + 1];
        if (hi < 'A' || hi > 'P' || lo < 'A' || lo > 'P') return false;
        decoded[i] = static_cast<std::uint8_t>((hi - 'A') << 4 | (lo - 'A'));
    }
    name = decoded;
    in = probe;
    return true;
}

}  // namespace vindrel::netbios
