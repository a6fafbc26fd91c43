// CP850 conversion for NetBIOS names and message texts.
#include "platform/cp850.h"

#include <array>

namespace vindrel {
namespace {

// Bytes 0x80..0xFF of code page 850.
constexpr std::array<char16_t, 128> kHighHalf = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7,
    0x00EA, 0x00EB, 0x00E8, 0x00EF, 0x00EE, 0x00EC, 0x00C4, 0x00C5,
    0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9,
    0x00FF, 0x00D6, 0x00DC, 0x00F8, 0x00A3, 0x00D8, 0x00D7, 0x0192,
    0x00E1, 0x00ED, 0x00F3, 0x00FA, 0x00F1, 0x00D1, 0x00AA, 0x00BA,
    0x00BF, 0x00AE, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB,
    0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x00C1, 0x00C2, 0x00C0,
    0x00A9, 0x2563, 0x2551, 0x2557, 0x255D, 0x00A2, 0x00A5, 0x2510,
    0x2514, 0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x00E3, 0x00C3,
    0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550, 0x256C, 0x00A4,
    0x00F0, 0x00D0, 0x00CA, 0x00CB, 0x00C8, 0x0131, 0x00CD, 0x00CE,
    0x00CF, 0x2518, 0x250C, 0x2588, 0x2584, 0x00A6, 0x00CC, 0x2580,
    0x00D3, 0x00DF, 0x00D4, 0x00D2, 0x00F5, 0x00D5, 0x00B5, 0x00FE,
    0x00DE, 0x00DA, 0x00DB, 0x00D9, 0x00FD, 0x00DD, 0x00AF, 0x00B4,
    0x00AD, 0x00B1, 0x2017, 0x00BE, 0x00B6, 0x00A7, 0x00F7, 0x00B8,
    0x00B0, 0x00A8, 0x00B7, 0x00B9, 0x00B3, 0x00B2, 0x25A0, 0x00A0,
};

bool IsSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDFFF; }
bool IsHighSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLowSurrogate(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

}  // namespace

std::optional<std::uint8_t> ToCp850(char16_t c)
{
    if (c < 0x80) return static_cast<std::uint8_t>(c);
    for (std::size_t i = 0; i < kHighHalf.size(); ++i)
        if (kHighHalf[i] == c) return static_cast<std::uint8_t>(0x80 + i);
    return std::nullopt;
}

char16_t FromCp850(std::uint8_t b)
{
    return b < 0x80 ? static_cast<char16_t>(b) : kHighHalf[b - 0x80];
}

std::string ToOemText(std::u16string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char16_t c = text[i];
        if (IsHighSurrogate(c) && i + 1 < text.size() && IsLowSurrogate(text[i + 1])) ++i;
        const auto b = IsSurrogate(c) ? std::nullopt : ToCp850(c);
        out += static_cast<char>(b ? *b : '?');
    }
    return out;
}

std::optional<std::string> ToOemName(std::u16string_view name)
{
    std::string out;
    out.reserve(name.size());
    for (const char16_t c : name) {
        const auto b = ToCp850(c);
        if (!b) return std::nullopt;
        out += static_cast<char>(*b);
    }
    return out;
}

char16_t ToUpperName(char16_t c)
{
    if (c >= u'a' && c <= u'z') return static_cast<char16_t>(c - 0x20);
    if (c >= 0x00E0 && c <= 0x00FE && c != 0x00F7) return static_cast<char16_t>(c - 0x20);
    if (c >= 0x0430 && c <= 0x044F) return static_cast<char16_t>(c - 0x20);
    if (c >= 0x0450 && c <= 0x045F) return static_cast<char16_t>(c - 0x50);
    return c;
}

namespace {

class Cp850CodePage final : public net::CodePage {
public:
    std::optional<std::string> EncodeName(std::u16string_view name) const override
    {
        return ToOemName(name);
    }
    std::string EncodeText(std::u16string_view text) const override { return ToOemText(text); }
    std::u16string Decode(std::string_view bytes) const override
    {
        std::u16string out;
        for (const char b : bytes) out += FromCp850(static_cast<std::uint8_t>(b));
        return out;
    }
};

}  // namespace

const net::CodePage& Cp850()
{
    static const Cp850CodePage page;
    return page;
}

}  // namespace vindrel
