// The login name: GetUserNameA of advapi32.dll, found at the first call, and
// the ANSI code page it answers in.
#include "platform/win32/windows_headers.h"

#include <climits>

#include "platform/login_name.h"
#include "platform/win32/system_calls.h"
#include "platform/win32/system_function.h"

namespace vindrel {
namespace {

using GetUserNameAFn = BOOL(WINAPI*)(LPSTR buffer, LPDWORD size);

win32::LateBound<GetUserNameAFn> g_get_user_name(L"advapi32.dll", "GetUserNameA");

int CallSystem(char* buffer, std::uint32_t* size)
{
    DWORD count = *size;
    const BOOL ok = g_get_user_name.Get()(buffer, &count);
    *size = count;
    return ok ? 1 : 0;
}

}  // namespace

namespace win32 {

std::u16string AnsiToUtf16(std::string_view text)
{
    if (text.empty() || text.size() > INT_MAX) return {};
    const int bytes = static_cast<int>(text.size());
    const int units = MultiByteToWideChar(CP_ACP, 0, text.data(), bytes, nullptr, 0);
    if (units <= 0) return {};
    std::u16string out(static_cast<std::size_t>(units), u'\0');
    MultiByteToWideChar(CP_ACP, 0, text.data(), bytes, reinterpret_cast<wchar_t*>(out.data()), units);
    return out;
}

}  // namespace win32

std::u16string GetLoginName()
{
    const bool found = g_get_user_name.Get() != nullptr;
    return win32::LoginNameThrough(found ? &CallSystem : nullptr, &win32::AnsiToUtf16);
}

}  // namespace vindrel
