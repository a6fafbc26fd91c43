// GetLoginName on scripted bindings, and the real POSIX binding.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/login_name.h"

namespace vindrel {
namespace {

// What the scripted binding does on its next call.
struct Script {
    std::string written;    // bytes written before the null
    int result = 1;
    long long size_after = -1;  // -1: the honest count, written + 1
} g_script;

int ScriptedGetUserNameA(char* buffer, std::uint32_t* size)
{
    if (g_script.result == 0) {
        *size = 0xFFFFFFFFu;  // garbage a failing call may leave
        return 0;
    }
    std::memcpy(buffer, g_script.written.c_str(), g_script.written.size() + 1);
    *size = g_script.size_after < 0 ? static_cast<std::uint32_t>(g_script.written.size() + 1)
                                    : static_cast<std::uint32_t>(g_script.size_after);
    return 1;
}

TEST(GetLoginName, ScriptedBinding)
{
    struct Row {
        const char* what;
        Script script;
        std::u16string expected;
    };
    const Row rows[] = {
        {"n characters, no trailing spaces", {"alice", 1, -1}, u"alice"},
        {"one character", {"a", 1, -1}, u"a"},
        {"multi-byte name comes back whole", {"Jos\xC3\xA9 \xE6\x97\xA5", 1, -1}, u"Jos\u00E9 \u65E5"},
        {"254 bytes, the most that fits", {std::string(254, 'n'), 1, -1}, std::u16string(254, u'n')},
        {"failure", {"alice", 0, -1}, u""},
        {"size beyond the buffer is not trusted", {"alice", 1, 4000}, u""},
        {"size zero", {"alice", 1, 0}, u""},
    };
    for (const auto& row : rows) {
        g_script = row.script;
        EXPECT_EQ(GetLoginName(&ScriptedGetUserNameA), row.expected) << row.what;
    }
    EXPECT_EQ(GetLoginName(nullptr), u"");
}

TEST(GetLoginName, MalformedUtf8DoesNotSwallowTheRest)
{
    g_script = {"a\xFF" "b\xC3", 1, -1};
    EXPECT_EQ(GetLoginName(&ScriptedGetUserNameA), u"a\uFFFDb\uFFFD");
}

TEST(GetUserNameA, NamesTheEffectiveUserAndReportsTheNeededSize)
{
    char buffer[256];
    std::uint32_t size = sizeof buffer;
    ASSERT_NE(GetUserNameA(buffer, &size), 0);
    EXPECT_EQ(size, std::strlen(buffer) + 1);
    if (geteuid() == 0) {
        EXPECT_STREQ(buffer, "root");
    }

    std::uint32_t small = 1;
    EXPECT_EQ(GetUserNameA(buffer, &small), 0);
    EXPECT_EQ(small, size) << "a too-small buffer learns the size it needs";
}

TEST(GetUserNameA, UserIdWithoutAnEntryIsNamedByItsNumber)
{
    if (geteuid() != 0) {
        const char* ci = std::getenv("CI");
        if (ci != nullptr && std::string(ci) == "true") FAIL() << "needs root in CI";
        GTEST_SKIP() << "needs root to take on a user id";
    }
    // Switch in a child so this process keeps its own identity.
    const pid_t child = fork();
    ASSERT_NE(child, -1);
    if (child == 0) {
        constexpr uid_t kUnlisted = 54321;  // not in any password database we ship
        if (setresuid(kUnlisted, kUnlisted, kUnlisted) != 0) _exit(2);
        char buffer[64];
        std::uint32_t size = sizeof buffer;
        if (GetUserNameA(buffer, &size) == 0) _exit(3);
        _exit(std::strcmp(buffer, "54321") == 0 && size == 6 ? 0 : 4);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

}  // namespace
}  // namespace vindrel
