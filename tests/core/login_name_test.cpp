// The POSIX login name, and the UTF-8 conversion it and the network code use.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "platform/login_name.h"
#include "platform/utf8.h"

namespace vindrel {
namespace {

TEST(Utf8, BothWaysAndMalformedInput)
{
    struct Row {
        const char* what;
        std::string utf8;
        std::u16string utf16;
    };
    const Row rows[] = {
        {"ASCII", "alice", u"alice"},
        {"two and three bytes", "Jos\xC3\xA9 \xE6\x97\xA5", u"Jos\u00E9 \u65E5"},
        {"four bytes: a surrogate pair", "\xF0\x9F\x98\x80", u"\U0001F600"},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(Utf8ToUtf16(row.utf8), row.utf16) << row.what;
        EXPECT_EQ(Utf16ToUtf8(row.utf16), row.utf8) << row.what;
    }
    EXPECT_EQ(Utf8ToUtf16("a\xFF" "b\xC3"), u"a\uFFFDb\uFFFD") << "the rest is still read";
    EXPECT_EQ(Utf8ToUtf16("\xC0\xAF"), u"\uFFFD\uFFFD") << "an overlong form is not a slash";
    EXPECT_EQ(Utf16ToUtf8(std::u16string(1, u'\xD800') + u"x"), "\xEF\xBF\xBDx");
}

TEST(GetLoginName, NamesTheEffectiveUser)
{
    const std::u16string name = GetLoginName();
    EXPECT_FALSE(name.empty());
    EXPECT_EQ(GetLoginName(), name) << "the same name at every lookup";
    if (geteuid() == 0) {
        EXPECT_EQ(name, u"root");
    }
}

TEST(GetLoginName, UserIdWithoutAnEntryIsNamedByItsNumber)
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
        _exit(GetLoginName() == u"54321" ? 0 : 4);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

}  // namespace
}  // namespace vindrel
