// Dispatch: order of sends and events, sender line, prompt texts.
#include <gtest/gtest.h>

#include "core/decimal.h"
#include "core/dispatch.h"
#include "core/prompt_texts.h"
#include "tests/core/fakes.h"

namespace vindrel::testing {
namespace {

using Log = std::vector<std::string>;

struct DispatchTest : ::testing::Test {
    FakeUi ui;
    FakeNet net;

    std::vector<RecipientOutcome> Run(std::u16string_view to_text, std::u16string_view message = u"hi")
    {
        return Dispatch(to_text, message, net.Make(ui.log), ui);
    }
};

TEST_F(DispatchTest, BlankOrAbsentListsSendNothingButTurnTheCursor)
{
    for (const std::u16string_view to : {u"", u";", u"   ;;"}) {
        ui.log.clear();
        EXPECT_TRUE(Run(to).empty());
        EXPECT_EQ(ui.log, (Log{"busy", "idle"}));
    }
    EXPECT_TRUE(net.calls.empty());
    EXPECT_EQ(net.login_lookups, 0);
}

TEST_F(DispatchTest, EveryNonBlankEntryGetsOneSignedCopyInOrder)
{
    EXPECT_EQ(Run(u"user1;; pc42 ;\tbob", u"Lunch?").size(), 3u);
    EXPECT_EQ(ui.log, (Log{"busy", "send:user1", "pump", "send:pc42", "pump", "send:\tbob", "pump", "idle"}))
        << "only U+0020 is trimmed";
    ASSERT_EQ(net.calls.size(), 3u);
    EXPECT_EQ(net.calls[1].name, u"pc42");
    EXPECT_EQ(net.calls[2].name, u"\tbob");
    for (const auto& call : net.calls)
        EXPECT_EQ(call.text, u"Lunch?\r\nSent by alice") << "exactly one sender line per copy";
    EXPECT_EQ(net.login_lookups, 3);
    EXPECT_TRUE(ui.prompts.empty());
}

TEST_F(DispatchTest, SenderLine)
{
    struct Row {
        std::u16string login, message, sent;
    };
    const Row rows[] = {
        {u"alice", u"", u"\r\nSent by alice"},
        {u"Alice", u"x", u"x\r\nSent by Alice"},  // case kept in the line
        {u"dorviks", u"x", u"x"},
        {u"DorVIKS", u"x", u"x"},
        {u"DORVIKS", u"", u""},
        {u"dorvik", u"x", u"x\r\nSent by dorvik"},
        {u"dorviks ", u"x", u"x\r\nSent by dorviks "},
        {u"", u"x", u"x\r\nSent by "},
    };
    for (const auto& row : rows) {
        net.calls.clear();
        net.login = row.login;
        Run(u"pc", row.message);
        ASSERT_EQ(net.calls.size(), 1u);
        EXPECT_EQ(net.calls[0].text, row.sent) << Narrow(row.login);
    }
}

// Every outcome a send can have, as the system's number it stands for and
// the words it has always had.
TEST_F(DispatchTest, PromptTextsAreExact)
{
    using R = SendOutcome::Result;
    const std::u16string not_found =
        u"Error: Message didn't reached to 'bob'.\r\nThe To field should contains valid login name "
        u"or computer name or * or user might not have logged on";
    const auto oops = [](std::u16string_view code) {
        return u"Oops! Something wrong! To field should contain user or computer name or contact "
               u"Dorvik! Error code is " + std::u16string(code);
    };
    const auto star = [](std::u16string_view reached, std::u16string_view not_reached) {
        return u"Error: Message reached " + std::u16string(reached) + u" computers for '*'; " +
               std::u16string(not_reached) +
               u" more answered but were not reached (too many computers or too little time).";
    };
    const struct {
        SendOutcome sent;
        NetStatus status;
        std::u16string text;
    } rows[] = {
        {{R::kDelivered}, 0, u""},
        {{R::kNameNotFound}, 2273, not_found},
        {{R::kNoConnection}, 2136, oops(u"2136")},
        {{R::kNoSessionReply}, 2136, oops(u"2136")},
        {{R::kSessionRefused}, 2136, oops(u"2136")},
        {{R::kNotReceived}, 2282, oops(u"2282")},
        {{R::kTooLong}, 87, oops(u"87")},
        {SendOutcome::System(0), 0, u""},
        {SendOutcome::System(2273), 2273, not_found},
        {SendOutcome::System(2136), 2136, oops(u"2136")},
        {SendOutcome::System(-5), -5, oops(u"-5")},
        {SendOutcome::System(-2147483647 - 1), -2147483647 - 1, oops(u"-2147483648")},
        {{R::kDelivered, 0, EveryoneCounts{5, 0}}, 0, u""},
        {{R::kDelivered, 0, EveryoneCounts{256, 244}}, 0, star(u"256", u"244")},
        {{R::kNoConnection, 0, EveryoneCounts{0, 3}}, 2136, star(u"0", u"3")},
        {{R::kNameNotFound, 0, EveryoneCounts{}}, 2273, not_found},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(Narrow(row.text));
        EXPECT_EQ(StatusNumber(row.sent), row.status);
        EXPECT_EQ(UndeliveredText({u"bob", row.sent}), row.text);
    }
    EXPECT_EQ(UndeliveredText({u"bob", {R::kTooLong}, 128}),
              u"Error: Message to 'bob' is 128 chars with the sender line, which exceeds permitted "
              u"length of 127 char.");
    EXPECT_EQ(FailurePrompt(2273, u"bob"), not_found + u"\r\nContinue?");
    EXPECT_EQ(Decimal(0), u"0");
}

TEST_F(DispatchTest, NameNotFoundQuotesTheTrimmedName)
{
    net.statuses = {2273};
    Run(u"  bob  ");
    ASSERT_EQ(ui.prompts.size(), 1u);
    EXPECT_EQ(ui.prompts[0].substr(0, 39), u"Error: Message didn't reached to 'bob'.");
}

TEST_F(DispatchTest, AnswersDecideWhetherTheRestGoOut)
{
    struct Row {
        const char* what;
        std::deque<NetStatus> statuses;
        std::deque<bool> answers;
        Log log;
        std::size_t served;
    };
    const Row rows[] = {
        {"No after the first failure leaves the rest unsent", {2273}, {false},
         {"busy", "send:a", "pump", "ask:no", "idle"}, 1},
        {"Yes goes on, with a prompt after each further failure", {2273, 5, 0}, {true, true},
         {"busy", "send:a", "pump", "ask:yes", "send:b", "pump", "ask:yes", "send:c", "pump", "idle"}, 3},
        {"a failure on the last entry still asks", {0, 0, 2136}, {true},
         {"busy", "send:a", "pump", "send:b", "pump", "send:c", "pump", "ask:yes", "idle"}, 3},
        {"No on the last entry", {0, 0, 2136}, {false},
         {"busy", "send:a", "pump", "send:b", "pump", "send:c", "pump", "ask:no", "idle"}, 3},
    };
    for (const auto& row : rows) {
        ui = FakeUi{};
        net.statuses = row.statuses;
        ui.answers = row.answers;
        EXPECT_EQ(Run(u"a;b;c").size(), row.served) << row.what;
        EXPECT_EQ(ui.log, row.log) << row.what;
        EXPECT_EQ(ui.busy_depth, 0) << row.what;
    }
}

TEST_F(DispatchTest, OverlongOutgoingTextIsRefusedPerRecipientNeverCut)
{
    net.login = u"alice";  // sender line: 15 characters
    const std::u16string message(113, u'm');  // 113 + 15 = 128 characters
    ui.answers = {true, false};
    EXPECT_EQ(Run(u" a ;b;c", message).size(), 2u);
    EXPECT_TRUE(net.calls.empty()) << "a length that misstates the text never reaches the send";
    EXPECT_EQ(ui.log, (Log{"busy", "ask:yes", "ask:no", "idle"}));
    EXPECT_EQ(ui.prompts[0],
              u"Error: Message to 'a' is 128 chars with the sender line, which exceeds permitted "
              u"length of 127 char.\r\nContinue?");

    // One character less fits exactly: 127 characters, 254 bytes.
    ui = FakeUi{};
    Run(u"a", std::u16string(112, u'm'));
    ASSERT_EQ(net.calls.size(), 1u);
    EXPECT_EQ(net.calls[0].text.size(), 127u);
}

TEST_F(DispatchTest, EachServedRecipientIsReportedBeforeItsPrompt)
{
    using R = SendOutcome::Result;
    ui.log_served = true;
    net.statuses = {0, 2273, -5};
    const auto outcomes = Run(u" a ;;b;c");
    EXPECT_EQ(ui.served, (std::vector<RecipientOutcome>{{u"a"},
                                                         {u"b", SendOutcome::System(2273)},
                                                         {u"c", SendOutcome::System(-5)}}));
    EXPECT_EQ(outcomes, ui.served) << "what was told is what is returned";
    EXPECT_EQ(ui.log, (Log{"busy", "send:a", "pump", "report", "send:b", "pump", "report", "ask:yes",
                           "send:c", "pump", "report", "ask:yes", "idle"}));

    // Not sent: the length with the sender line is the value, not a status.
    ui.served.clear();
    Run(u"a", std::u16string(113, u'm'));
    EXPECT_EQ(ui.served, (std::vector<RecipientOutcome>{{u"a", {R::kTooLong}, 128}}));

    // The window closed during a send: that send is still told.
    ui.served.clear();
    ui.on_pump = [this] { ui.window_open = false; };
    Run(u"a;b");
    EXPECT_EQ(ui.served.size(), 1u);
}

TEST_F(DispatchTest, OverlongTypedMessageIsOnlyNoticed)
{
    // A line break counts two: 126 characters and one CR LF are 128.
    EXPECT_TRUE(Run(u"a", std::u16string(126, u'x') + u"\r\n").empty());
    EXPECT_EQ(ui.log, (Log{"ok"})) << "no cursor, no send";
    EXPECT_EQ(ui.prompts, (std::vector<std::u16string>{OverLengthNotice(128)}));
    EXPECT_EQ(net.login_lookups, 0);
}

TEST_F(DispatchTest, ClosedWindowEndsTheDispatchWithoutFurtherSendOrBox)
{
    net.statuses = {0, 2273, 0};
    ui.on_pump = [this] { ui.window_open = false; };
    EXPECT_EQ(Run(u"a;b;c").size(), 1u);
    EXPECT_EQ(ui.log, (Log{"busy", "send:a", "pump", "idle"}));

    // Closed while a failed send was out: no prompt over a window that is gone.
    ui = FakeUi{};
    net.statuses = {2273};
    ui.on_pump = [this] { ui.window_open = false; };
    Run(u"a;b");
    EXPECT_EQ(ui.log, (Log{"busy", "send:a", "pump", "idle"}));
}

}  // namespace
}  // namespace vindrel::testing
