// vindrel-send's arguments and input, run with scripted bindings and a
// console that records what was printed: one table of command lines.
#include <gtest/gtest.h>

#include <deque>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "app/cli/send_command.h"
#include "fakes.h"
#include "vindrel_version.h"

namespace vindrel::cli {
namespace {

class FakeConsole : public Console {
public:
    std::optional<std::u16string> input;  // absent: reading it fails
    int reads = 0;
    std::u16string out;
    std::u16string err;

    std::optional<std::u16string> ReadInput(std::u16string& text) override
    {
        ++reads;
        if (!input) return u"no input here";
        text = *input;
        return std::nullopt;
    }
    void Out(std::u16string_view text) override { out += text; }
    void Err(std::u16string_view text) override { err += text; }
};

using Sends = std::vector<std::pair<std::u16string, std::u16string>>;

struct Row {
    const char* what;
    std::vector<std::u16string> args;
    std::optional<std::u16string> input;
    std::deque<NetStatus> statuses;
    std::u16string login;
    int exit;
    Sends sends;
    std::u16string out;
    std::u16string err;
};

std::u16string Repeat(std::u16string_view piece, int times)
{
    std::u16string text;
    for (int i = 0; i < times; ++i) text += piece;
    return text;
}

const std::u16string kSigned = u"\r\nSent by alice";
const std::u16string kUsageHint = u"\nTry 'vindrel-send --help' for more information.\n";
const std::u16string kNotFoundB =
    u"Error: Message didn't reached to 'b'.\nThe To field should contains valid login name or "
    u"computer name or * or user might not have logged on\n";

TEST(SendCommand, ArgumentsAndInput)
{
    const std::u16string x127 = Repeat(u"x", 127);
    const std::u16string overlong_a =
        u"Error: Message to 'a' is 142 chars with the sender line, which exceeds permitted length "
        u"of 127 char.\n";
    const std::vector<Row> rows = {
        {"message as an argument, stdin left alone", {u"pc42", u"hello"}, {}, {}, u"alice", 0,
         {{u"pc42", u"hello" + kSigned}}, u"", u""},
        {"\"-\" reads stdin, one trailing line break dropped", {u"pc42", u"-"}, u"hi\n\n", {},
         u"alice", 0, {{u"pc42", u"hi\r\n" + kSigned}}, u"", u""},
        {"no message reads stdin; a trailing CR LF is one line break", {u"pc42"}, u"a\r\nb\r\n",
         {}, u"alice", 0, {{u"pc42", u"a\r\nb" + kSigned}}, u"", u""},
        {"empty stdin is an empty message, still delivered", {u"pc42"}, u"", {}, u"alice", 0,
         {{u"pc42", kSigned}}, u"", u""},
        {"empty argument is an empty message", {u"pc42", u""}, {}, {}, u"alice", 0,
         {{u"pc42", kSigned}}, u"", u""},
        {"LF becomes CR LF, CR LF stays, a lone CR stays", {u"pc42", u"a\nb\r\nc\rd"}, {}, {},
         u"alice", 0, {{u"pc42", u"a\r\nb\r\nc\rd" + kSigned}}, u"", u""},
        {"127 characters go out whole with the exempt login", {u"pc42", x127}, {}, {}, u"Dorviks",
         0, {{u"pc42", x127}}, u"", u""},
        {"127 characters and a sender line: refused per recipient, nothing sent",
         {u"-v", u"a;b", x127}, {}, {}, u"alice", 1, {}, u"a refused\nb refused\n",
         overlong_a + u"Error: Message to 'b' is 142 chars with the sender line, which exceeds "
                      u"permitted length of 127 char.\n"},
        {"128 characters: the window's notice, nothing sent", {u"pc42", x127 + u"y"}, {}, {},
         u"alice", 2, {}, u"",
         u"Message length is 128 chars which exceeds permitted length of 128 char.\n"},
        {"a line break from stdin counts as two", {u"pc42"}, Repeat(u"x", 63) + u"\n" +
         Repeat(u"x", 63) + u"\n", {}, u"alice", 2, {}, u"",
         u"Message length is 128 chars which exceeds permitted length of 128 char.\n"},
        {"non-ASCII names and text", {u" Zo\u00eb ;J\u00fcrgen", u"Gr\u00fc\u00dfe \u20ac"}, {},
         {}, u"alice", 0,
         {{u"Zo\u00eb", u"Gr\u00fc\u00dfe \u20ac" + kSigned},
          {u"J\u00fcrgen", u"Gr\u00fc\u00dfe \u20ac" + kSigned}}, u"", u""},
        {"characters outside the BMP count as two", {u"pc42", Repeat(u"\U0001F600", 64)}, {}, {},
         u"alice", 2, {}, u"",
         u"Message length is 128 chars which exceeds permitted length of 128 char.\n"},
        {"-v: one line per recipient; failures on stderr without the question, all served",
         {u"-v", u" a ; b;;c", u"m"}, {}, {0, 2273, 2136}, u"alice", 1,
         {{u"a", u"m" + kSigned}, {u"b", u"m" + kSigned}, {u"c", u"m" + kSigned}},
         u"a delivered\nb 2273\nc 2136\n",
         kNotFoundB + u"Oops! Something wrong! To field should contain user or computer name or "
                      u"contact Dorvik! Error code is 2136\n"},
        {"a negative status is printed signed", {u"-v", u"a", u"m"}, {}, {-5}, u"alice", 1,
         {{u"a", u"m" + kSigned}}, u"a -5\n",
         u"Oops! Something wrong! To field should contain user or computer name or contact Dorvik! "
         u"Error code is -5\n"},
        {"--stop-on-error: nothing after the first failure", {u"--stop-on-error", u"b;c", u"m"},
         {}, {2273}, u"alice", 1, {{u"b", u"m" + kSigned}}, u"", kNotFoundB},
        {"a successful run prints nothing", {u"a;b", u"m"}, {}, {}, u"alice", 0,
         {{u"a", u"m" + kSigned}, {u"b", u"m" + kSigned}}, u"", u""},
        {"\"*\" is one recipient", {u"*", u"m"}, {}, {}, u"alice", 0, {{u"*", u"m" + kSigned}}, u"",
         u""},
        {"empty TO: nothing to send, still accepted", {u"", u"m"}, {}, {}, u"alice", 0, {}, u"",
         u""},
        {"blank entries only: nothing to send", {u" ; ;", u"m"}, {}, {}, u"alice", 0, {}, u"", u""},
        {"after TO, an option-like word is the message", {u"pc42", u"--verbose"}, {}, {}, u"alice",
         0, {{u"pc42", u"--verbose" + kSigned}}, u"", u""},
        {"\"--\" ends the options", {u"--", u"-v", u"-h"}, {}, {}, u"alice", 0,
         {{u"-v", u"-h" + kSigned}}, u"", u""},
        {"--version", {u"--version"}, {}, {}, u"alice", 0, {},
         u"vindrel-send " VINDREL_VERSION_FULL u"\n", u""},
        {"no arguments", {}, {}, {}, u"alice", 2, {}, u"",
         u"vindrel-send: no recipients given" + kUsageHint},
        {"unknown long option", {u"--config", u"a", u"m"}, {}, {}, u"alice", 2, {}, u"",
         u"vindrel-send: unknown option '--config'" + kUsageHint},
        {"unknown short option in a group", {u"-vx", u"a", u"m"}, {}, {}, u"alice", 2, {}, u"",
         u"vindrel-send: unknown option '-x'" + kUsageHint},
        {"an unquoted message is too many arguments", {u"a", u"hello", u"there"}, {}, {}, u"alice",
         2, {}, u"",
         u"vindrel-send: too many arguments: the message is one argument (quote it), or standard "
         u"input" + kUsageHint},
        {"unreadable stdin: nothing sent", {u"a"}, {}, {}, u"alice", 2, {}, u"",
         u"vindrel-send: no input here; nothing was sent.\n"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        testing::FakeNet net;
        net.statuses = row.statuses;
        net.login = row.login;
        std::vector<std::string> log;
        FakeConsole console;
        console.input = row.input;
        EXPECT_EQ(RunSendCommand(row.args, console, net.Make(log)), row.exit);
        Sends sends;
        for (const auto& call : net.calls) sends.emplace_back(call.name, call.text);
        EXPECT_EQ(sends, row.sends);
        EXPECT_EQ(console.out, row.out);
        EXPECT_EQ(console.err, row.err);
    }
}

TEST(SendCommand, HelpNamesEveryOptionAndExitStatusWithoutReadingInput)
{
    for (const auto* flag : {u"-h", u"--help", u"-vh"}) {
        testing::FakeNet net;
        std::vector<std::string> log;
        FakeConsole console;
        EXPECT_EQ(RunSendCommand({flag, u"a"}, console, net.Make(log)), 0);
        EXPECT_EQ(console.reads, 0);
        EXPECT_TRUE(net.calls.empty());
        for (const auto* word : {u"Usage: vindrel-send [OPTIONS] TO [MESSAGE]", u"--verbose",
                                 u"--stop-on-error", u"--version", u"Exit status", u"  2  "})
            EXPECT_NE(console.out.find(word), std::u16string::npos) << testing::Narrow(word);
    }
}

TEST(SendCommand, AStarCutShortAndTheListOfNames)
{
    const LanNames lan{{{u"ALICE", u"RX1", 0x0A4D010B}, {u"A\"B\\", u"RX2", 0x0A4D010C}}, 0};
    struct Case {
        const char* what;
        std::vector<std::u16string> args;
        std::size_t hosts_missed;
        bool cached;
        int exit;
        std::u16string out;
        std::u16string err;
    };
    const std::u16string short_star =
        u"Error: Message reached 256 computers for '*'; 244 more answered but were not reached "
        u"(too many computers or too little time).\n";
    const Case cases[] = {
        {"\"*\" short of hosts that answered", {u"-v", u"*", u"m"}, 0, true, 1,
         u"* reached 256, not reached 244\n", short_star},
        {"names, one a line", {u"--list-names"}, 0, true, 0,
         u"ALICE\tRX1\t10.77.1.11\nA\"B\\\tRX2\t10.77.1.12\n", u""},
        {"names as JSON", {u"--list-names", u"--json"}, 0, true, 0,
         u"{\"name\":\"ALICE\",\"computer\":\"RX1\",\"address\":\"10.77.1.11\"}\n"
         u"{\"name\":\"A\\\"B\\\\\",\"computer\":\"RX2\",\"address\":\"10.77.1.12\"}\n", u""},
        {"hosts not asked are told", {u"--list-names"}, 3, true, 1,
         u"ALICE\tRX1\t10.77.1.11\nA\"B\\\tRX2\t10.77.1.12\n",
         u"vindrel-send: 3 more computers answered but were not asked for their names (too many)\n"},
        {"no cache yet", {u"--list-names", u"--cached"}, 0, false, 1, u"",
         u"vindrel-send: no names cached yet; 'vindrel-send --list-names' finds them\n"},
        {"--json alone", {u"--json"}, 0, true, 2, u"",
         u"vindrel-send: --json and --cached go with --list-names" + kUsageHint},
        {"--list-names with recipients", {u"--list-names", u"a"}, 0, true, 2, u"",
         u"vindrel-send: --list-names takes no recipients" + kUsageHint},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        testing::FakeNet net;
        std::vector<std::string> log;
        Bindings bindings = net.Make(log);
        bindings.send = [](std::u16string_view, std::u16string_view) {
            return SendOutcome{SendOutcome::Result::kDelivered, 0, EveryoneCounts{256, 244}};
        };
        NameSources names;
        names.list = [&] { return LanNames{lan.names, c.hosts_missed}; };
        names.cached = [&]() -> std::optional<std::vector<LanName>> {
            if (!c.cached) return std::nullopt;
            return lan.names;
        };
        FakeConsole console;
        EXPECT_EQ(RunSendCommand(c.args, console, bindings, names), c.exit);
        EXPECT_EQ(console.out, c.out);
        EXPECT_EQ(console.err, c.err);
    }
}

TEST(SendCommand, OnlyValidUtf8IsTaken)
{
    const std::vector<std::pair<std::string, std::optional<std::u16string>>> rows = {
        {"plain", u"plain"},
        {"", u""},
        {"Gr\xc3\xbc\xc3\x9f\x65 \xe2\x82\xac \xf0\x9f\x98\x80", u"Gr\u00fc\u00dfe \u20ac \U0001F600"},
        {"\xef\xbf\xbd", u"\uFFFD"},  // a replacement mark that was really typed
        {"bad \xff byte", std::nullopt},
        {"latin-1 caf\xe9", std::nullopt},
        {"cut \xe2\x82", std::nullopt},
        {"overlong \xc0\xaf", std::nullopt},
        {"surrogate \xed\xa0\x80", std::nullopt},
    };
    for (const auto& [bytes, want] : rows) EXPECT_EQ(StrictUtf8ToUtf16(bytes), want) << bytes;
}

}  // namespace
}  // namespace vindrel::cli
