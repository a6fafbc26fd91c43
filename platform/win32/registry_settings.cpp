// The registry settings store.
#include "platform/win32/registry_settings.h"

#include "platform/win32/windows_headers.h"

#include <optional>
#include <vector>

#include "platform/win32/wide.h"

namespace vindrel::win32 {
namespace {

std::wstring KeyPath(std::u16string_view application, std::u16string_view section)
{
    return L"Software\\" + Wide(application) + L"\\" + Wide(section);
}

// The value's text up to its first null; nothing when it is missing or not a
// string. The stored bytes are not trusted to end in a null.
std::optional<std::u16string> QueryString(HKEY key, const std::wstring& name)
{
    std::vector<BYTE> data(256);
    for (;;) {
        DWORD type = REG_NONE;
        DWORD bytes = static_cast<DWORD>(data.size());
        const LSTATUS rc = RegQueryValueExW(key, name.c_str(), nullptr, &type, data.data(), &bytes);
        if (rc == ERROR_MORE_DATA) {
            // Someone may grow the value between two calls: ask again.
            data.resize(static_cast<std::size_t>(bytes) + sizeof(wchar_t));
            continue;
        }
        if (rc != ERROR_SUCCESS || type != REG_SZ) return std::nullopt;
        std::u16string text(bytes / sizeof(char16_t), u'\0');
        for (std::size_t i = 0; i < text.size(); ++i)
            text[i] = static_cast<char16_t>(data[2 * i] | (data[2 * i + 1] << 8));
        const auto end = text.find(u'\0');
        if (end != std::u16string::npos) text.resize(end);
        return text;
    }
}

}  // namespace

std::u16string RegistrySettings::Read(std::u16string_view application, std::u16string_view section,
                                      std::u16string_view key, std::u16string_view default_value)
{
    HKEY handle = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, KeyPath(application, section).c_str(), 0, KEY_QUERY_VALUE,
                      &handle) != ERROR_SUCCESS)
        return std::u16string(default_value);
    const std::optional<std::u16string> value = QueryString(handle, Wide(key));
    RegCloseKey(handle);
    return value ? *value : std::u16string(default_value);
}

std::optional<std::u16string> RegistrySettings::Write(std::u16string_view application,
                                                      std::u16string_view section,
                                                      std::u16string_view key,
                                                      std::u16string_view value)
{
    HKEY handle = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, KeyPath(application, section).c_str(), 0, nullptr, 0,
                        KEY_SET_VALUE, nullptr, &handle, nullptr) != ERROR_SUCCESS)
        return u"The registry key could not be opened.";
    const std::wstring text = Wide(value);
    // REG_SZ carries its terminating null.
    const LSTATUS rc =
        RegSetValueExW(handle, Wide(key).c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                       static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(handle);
    if (rc != ERROR_SUCCESS) return u"The registry value could not be written.";
    return std::nullopt;
}

}  // namespace vindrel::win32
