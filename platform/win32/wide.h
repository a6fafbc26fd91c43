// UTF-16 strings of the core as the wide strings of the Windows API; on this
// platform both are 16-bit code units.
#pragma once

#include <string>
#include <string_view>

namespace vindrel::win32 {

static_assert(sizeof(wchar_t) == sizeof(char16_t));

inline const wchar_t* Wide(const char16_t* text)
{
    return reinterpret_cast<const wchar_t*>(text);
}

inline std::wstring Wide(std::u16string_view text)
{
    return std::wstring(reinterpret_cast<const wchar_t*>(text.data()), text.size());
}

inline std::u16string Utf16(std::wstring_view text)
{
    return std::u16string(reinterpret_cast<const char16_t*>(text.data()), text.size());
}

}  // namespace vindrel::win32
