// The Windows bindings on the real system: finding functions by name, the
// login name from advapi32.dll, and the ANSI code page.
#include <gtest/gtest.h>

#include "platform/login_name.h"
#include "platform/win32/system_calls.h"
#include "platform/win32/system_function.h"
#include "platform/win32/windows_headers.h"

namespace vindrel::win32 {
namespace {

using GetTickCountCall = DWORD(WINAPI*)();

TEST(FindSystemFunction, SaysWhatIsMissing)
{
    struct Row {
        const wchar_t* library;
        const char* function;
        DWORD error;
    };
    const Row rows[] = {
        {L"vindrel-no-such-library.dll", "NetMessageBufferSend", ERROR_MOD_NOT_FOUND},
        {L"kernel32.dll", "NoSuchFunctionInKernel32", ERROR_PROC_NOT_FOUND},
        {L"kernel32.dll", "GetTickCount", ERROR_SUCCESS},
    };
    for (const Row& row : rows) {
        DWORD error = 12345;
        const FARPROC address = FindSystemFunction(row.library, row.function, &error);
        EXPECT_EQ(error, row.error) << row.function;
        EXPECT_EQ(address != nullptr, row.error == ERROR_SUCCESS) << row.function;
    }
}

TEST(LateBound, ResolvesOnceAndKeepsTheAnswer)
{
    LateBound<GetTickCountCall> found(L"kernel32.dll", "GetTickCount");
    const GetTickCountCall first = found.Get();
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(found.Get(), first);
    EXPECT_EQ(found.Error(), static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_GT(first(), 0u);

    LateBound<GetTickCountCall> missing(L"vindrel-no-such-library.dll", "GetTickCount");
    EXPECT_EQ(missing.Get(), nullptr);
    EXPECT_EQ(missing.Get(), nullptr) << "a second call neither crashes nor finds it";
    EXPECT_EQ(missing.Error(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
}

std::u16string NameFromGetUserNameW()
{
    wchar_t name[257];
    DWORD size = 257;
    if (!GetUserNameW(name, &size) || size == 0) return {};
    return std::u16string(reinterpret_cast<const char16_t*>(name), size - 1);
}

TEST(GetLoginName, IsTheUserRunningTheProgram)
{
    const std::u16string expected = NameFromGetUserNameW();
    ASSERT_FALSE(expected.empty());
    EXPECT_EQ(vindrel::GetLoginName(), expected);
    EXPECT_EQ(vindrel::GetLoginName(), vindrel::GetLoginName()) << "the same name at every lookup";
}

TEST(AnsiToUtf16, ConvertsThroughTheAnsiCodePage)
{
    EXPECT_EQ(AnsiToUtf16(""), u"");
    EXPECT_EQ(AnsiToUtf16("alice"), u"alice");
    // Every single-byte code page agrees with ASCII; beyond it, the
    // conversion must match the system's own for the active code page.
    const char high[] = "\xC9t\xE9";
    wchar_t wide[8] = {};
    const int n = MultiByteToWideChar(CP_ACP, 0, high, 3, wide, 8);
    ASSERT_GT(n, 0);
    EXPECT_EQ(AnsiToUtf16(std::string_view(high, 3)),
              std::u16string(reinterpret_cast<const char16_t*>(wide), static_cast<std::size_t>(n)));
}

}  // namespace
}  // namespace vindrel::win32
