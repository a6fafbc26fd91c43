// Code page 850, the DOS code page Samba assumes unless told otherwise: the
// built-in conversion when no other code page is configured or available.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/network.h"

namespace vindrel {

// The CP850 byte for one UTF-16 code unit, or none when the code page lacks it.
std::optional<std::uint8_t> ToCp850(char16_t c);

// The character a CP850 byte stands for.
char16_t FromCp850(std::uint8_t b);

// Message text: every character the code page lacks becomes "?", a surrogate
// pair (one character) becomes one "?".
std::string ToOemText(std::u16string_view text);

// Names: the whole name or nothing, since a name with a substituted
// character would name someone else.
std::optional<std::string> ToOemName(std::u16string_view name);

// Upper case as names are compared on the wire: ASCII, the Latin-1 letters
// that have an upper-case form in the same range, and basic Cyrillic.
char16_t ToUpperName(char16_t c);

// The conversions above as a code page of the network seam.
const net::CodePage& Cp850();

}  // namespace vindrel
