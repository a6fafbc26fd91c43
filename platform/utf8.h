// UTF-8, the text of POSIX systems (names, arguments, configuration files),
// to and from the UTF-16 that the program works in.
#pragma once

#include <string>
#include <string_view>

namespace vindrel {

// A malformed sequence becomes one U+FFFD and the rest is still read.
std::u16string Utf8ToUtf16(std::string_view text);

// An unpaired surrogate becomes U+FFFD.
std::string Utf16ToUtf8(std::u16string_view text);

}  // namespace vindrel
