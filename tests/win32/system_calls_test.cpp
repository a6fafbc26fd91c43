// The core's send and login name on scripted system calls: exactly what the
// system function receives, and what comes back from what it leaves.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/win32/system_calls.h"

namespace vindrel::win32 {
namespace {

struct SentCall {
    bool server_null = false, from_null = false;
    std::u16string name;
    std::string bytes;
    std::uint32_t length = 0;
} g_sent;

std::uint32_t RecordingSend(const char16_t* server, const char16_t* msgname, const char16_t* from,
                            const unsigned char* buffer, std::uint32_t length)
{
    g_sent = {server == nullptr, from == nullptr, msgname,
              std::string(reinterpret_cast<const char*>(buffer), length), length};
    return 2273;
}

TEST(SendThrough, PassesNoServerNoSenderAndTheByteLength)
{
    const std::u16string text = u"Hi\r\nSent by al";
    EXPECT_EQ(SendThrough(&RecordingSend, 0, u"pc42", text), 2273) << "the status unchanged";
    EXPECT_TRUE(g_sent.server_null);
    EXPECT_TRUE(g_sent.from_null);
    EXPECT_EQ(g_sent.name, u"pc42");
    EXPECT_EQ(g_sent.length, text.size() * 2);
    EXPECT_EQ(g_sent.bytes, std::string(reinterpret_cast<const char*>(text.data()), text.size() * 2));

    EXPECT_EQ(SendThrough(&RecordingSend, 0, u"a", std::u16string(127, u'x')), 2273);
    EXPECT_EQ(g_sent.length, 254u);
    EXPECT_EQ(SendThrough(&RecordingSend, 0, u"a", u""), 2273);
    EXPECT_EQ(g_sent.length, 0u);

    g_sent = {};
    EXPECT_EQ(SendThrough(&RecordingSend, 0, u"a", std::u16string(128, u'x')), 87);
    EXPECT_TRUE(g_sent.name.empty()) << "a length that misstates the text never reaches the call";
    EXPECT_EQ(SendThrough(nullptr, 126, u"a", u"x"), 126) << "a missing library says why";
}

// What the scripted GetUserNameA does on its next call.
struct Script {
    std::string written;    // bytes written before the null
    int result = 1;
    long long size_after = -1;  // -1: the honest count, written + 1
} g_script;
std::uint32_t g_capacity_seen = 0;
std::string g_buffer_seen;

int ScriptedGetUserNameA(char* buffer, std::uint32_t* size)
{
    g_capacity_seen = *size;
    g_buffer_seen.assign(buffer, *size);
    if (g_script.result == 0) {
        *size = 0xFFFFFFFFu;  // garbage a failing call may leave
        return 0;
    }
    std::memcpy(buffer, g_script.written.c_str(), g_script.written.size() + 1);
    *size = g_script.size_after < 0 ? static_cast<std::uint32_t>(g_script.written.size() + 1)
                                    : static_cast<std::uint32_t>(g_script.size_after);
    return 1;
}

// Stands for the ANSI code page: Latin-1, one byte a character.
std::u16string Latin1(std::string_view text)
{
    std::u16string out;
    for (const char c : text) out += static_cast<char16_t>(static_cast<unsigned char>(c));
    return out;
}

TEST(LoginNameThrough, ScriptedCall)
{
    struct Row {
        const char* what;
        const char* written;
        int result;
        long long size_after;
        std::u16string expected;
    };
    const std::string longest(254, 'n');
    const Row rows[] = {
        {"n characters, no trailing spaces", "alice", 1, -1, u"alice"},
        {"one character", "a", 1, -1, u"a"},
        {"bytes beyond ASCII", "Jos\xE9", 1, -1, u"Jos\u00E9"},
        {"254 bytes, the most that fits", longest.c_str(), 1, -1, std::u16string(254, u'n')},
        {"failure", "alice", 0, -1, u""},
        {"size beyond the buffer is not trusted", "alice", 1, 4000, u""},
        {"size zero", "alice", 1, 0, u""},
    };
    for (const auto& row : rows) {
        g_script = {row.written, row.result, row.size_after};
        EXPECT_EQ(LoginNameThrough(&ScriptedGetUserNameA, &Latin1), row.expected) << row.what;
        EXPECT_EQ(g_capacity_seen, 255u) << row.what;
        EXPECT_EQ(g_buffer_seen, std::string(255, ' ')) << row.what;
    }
    EXPECT_EQ(LoginNameThrough(nullptr, &Latin1), u"");
}

}  // namespace
}  // namespace vindrel::win32
