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

// The system's own words for `status`, without the line break it ends in;
// the number alone when the system has no text for it.
std::wstring SystemMessage(LSTATUS status)
{
    wchar_t* text = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, static_cast<DWORD>(status), 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::wstring message = length > 0 && text != nullptr ? std::wstring(text, length) : std::wstring();
    LocalFree(text);
    while (!message.empty() && (message.back() == L'\n' || message.back() == L'\r' || message.back() == L' '))
        message.pop_back();
    // Digits by hand: std::to_wstring would bring a whole printf into the program.
    std::wstring code;
    for (auto n = static_cast<unsigned long>(status); code.empty() || n > 0; n /= 10)
        code.insert(code.begin(), static_cast<wchar_t>(L'0' + n % 10));
    code = L"error " + code;
    return message.empty() ? code : message + L" (" + code + L")";
}

// Why `key` of the registry key at `path` was not stored, in plain words.
std::u16string WriteFailure(const std::wstring& path, std::u16string_view key, LSTATUS status)
{
    return Utf16(L"The value " + Wide(key) + L" of the registry key HKEY_CURRENT_USER\\" + path +
                 L" could not be written: " + SystemMessage(status));
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
    const std::wstring path = KeyPath(application, section);
    HKEY handle = nullptr;
    LSTATUS rc = RegCreateKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                                 &handle, nullptr);
    if (rc != ERROR_SUCCESS) return WriteFailure(path, key, rc);
    const std::wstring text = Wide(value);
    // REG_SZ carries its terminating null.
    rc = RegSetValueExW(handle, Wide(key).c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                        static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(handle);
    if (rc != ERROR_SUCCESS) return WriteFailure(path, key, rc);
    return std::nullopt;
}

}  // namespace vindrel::win32
