// The login-name binding: GetUserNameA of advapi32.dll, found at the first
// call, and the ANSI code page it answers in.
#include "platform/win32/windows_headers.h"

#include <climits>

#include "platform/login_name.h"
#include "platform/win32/system_function.h"

namespace vindrel {
namespace {

using GetUserNameACall = BOOL(WINAPI*)(LPSTR buffer, LPDWORD size);

win32::LateBound<GetUserNameACall> g_get_user_name(L"advapi32.dll", "GetUserNameA");

}  // namespace

int GetUserNameA(char* buffer, std::uint32_t* size)
{
    const GetUserNameACall call = g_get_user_name.Get();
    if (call == nullptr || size == nullptr) return 0;
    DWORD count = *size;
    const BOOL ok = call(buffer, &count);
    *size = count;
    return ok ? 1 : 0;
}

std::u16string SystemCodePageToUtf16(std::string_view text)
{
    if (text.empty() || text.size() > INT_MAX) return {};
    const int bytes = static_cast<int>(text.size());
    const int units = MultiByteToWideChar(CP_ACP, 0, text.data(), bytes, nullptr, 0);
    if (units <= 0) return {};
    std::u16string out(static_cast<std::size_t>(units), u'\0');
    MultiByteToWideChar(CP_ACP, 0, text.data(), bytes, reinterpret_cast<wchar_t*>(out.data()), units);
    return out;
}

}  // namespace vindrel
