// SendMessages: order of sends and prompts, sender line, prompt texts, cursor.
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

    bool Run(RecipientList list, std::u16string message = u"hi")
    {
        return SendMessages(list, std::move(message), ui, net.Make(ui.log));
    }
};

TEST_F(DispatchTest, BlankOrAbsentListsSendNothingButTurnTheCursor)
{
    for (const RecipientList& list : {RecipientList{}, RecipientList{{u""}}, RecipientList{{u"   ", u""}}}) {
        ui.log.clear();
        EXPECT_TRUE(Run(list));
        EXPECT_EQ(ui.log, (Log{"busy", "idle"}));
    }
    EXPECT_TRUE(net.calls.empty());
    EXPECT_EQ(net.login_lookups, 0);
}

TEST_F(DispatchTest, EveryNonBlankEntryGetsOneSignedCopyInOrder)
{
    EXPECT_TRUE(Run(RecipientList{{u"user1", u"", u" pc42 ", u"\tbob"}}, u"Lunch?"));
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
        Run(RecipientList{{u"pc"}}, row.message);
        ASSERT_EQ(net.calls.size(), 1u);
        EXPECT_EQ(net.calls[0].text, row.sent) << Narrow(row.login);
    }
}

TEST_F(DispatchTest, PromptTextsAreExact)
{
    EXPECT_EQ(FailurePrompt(2273, u"bob"),
              u"Error: Message didn't reached to 'bob'.\r\nThe To field should contains valid login name "
              u"or computer name or * or user might not have logged on\r\nContinue?");
    EXPECT_EQ(FailurePrompt(2136, u"bob"),
              u"Oops! Something wrong! To field should contain user or computer name or contact Dorvik! "
              u"Error code is 2136\r\nContinue?");
    EXPECT_EQ(FailurePrompt(-5, u"bob"),
              u"Oops! Something wrong! To field should contain user or computer name or contact Dorvik! "
              u"Error code is -5\r\nContinue?");
    EXPECT_EQ(Decimal(-2147483648LL), u"-2147483648");
    EXPECT_EQ(Decimal(0), u"0");
}

TEST_F(DispatchTest, NameNotFoundQuotesTheTrimmedName)
{
    net.statuses = {2273};
    Run(RecipientList{{u"  bob  "}});
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
        bool completed;
    };
    const Row rows[] = {
        {"No after the first failure leaves the rest unsent", {2273}, {false},
         {"busy", "send:a", "pump", "ask:no", "idle"}, false},
        {"Yes goes on, with a prompt after each further failure", {2273, 5, 0}, {true, true},
         {"busy", "send:a", "pump", "ask:yes", "send:b", "pump", "ask:yes", "send:c", "pump", "idle"}, true},
        {"a failure on the last entry still asks", {0, 0, 2136}, {true},
         {"busy", "send:a", "pump", "send:b", "pump", "send:c", "pump", "ask:yes", "idle"}, true},
        {"No on the last entry", {0, 0, 2136}, {false},
         {"busy", "send:a", "pump", "send:b", "pump", "send:c", "pump", "ask:no", "idle"}, false},
    };
    for (const auto& row : rows) {
        ui = FakeUi{};
        net.statuses = row.statuses;
        ui.answers = row.answers;
        EXPECT_EQ(Run(RecipientList{{u"a", u"b", u"c"}}), row.completed) << row.what;
        EXPECT_EQ(ui.log, row.log) << row.what;
        EXPECT_EQ(ui.busy_depth, 0) << row.what;
    }
}

TEST_F(DispatchTest, OverlongOutgoingTextIsRefusedPerRecipientNeverCut)
{
    net.login = u"alice";  // sender line: 15 characters
    const std::u16string message(113, u'm');  // 113 + 15 = 128 characters
    ui.answers = {true, false};
    EXPECT_FALSE(Run(RecipientList{{u" a ", u"b", u"c"}}, message));
    EXPECT_TRUE(net.calls.empty()) << "a length that misstates the text never reaches the send";
    EXPECT_EQ(ui.log, (Log{"busy", "ask:yes", "ask:no", "idle"}));
    EXPECT_EQ(ui.prompts[0],
              u"Error: Message to 'a' is 128 chars with the sender line, which exceeds permitted "
              u"length of 127 char.\r\nContinue?");

    // One character less fits exactly: 127 characters, 254 bytes.
    ui = FakeUi{};
    Run(RecipientList{{u"a"}}, std::u16string(112, u'm'));
    ASSERT_EQ(net.calls.size(), 1u);
    EXPECT_EQ(net.calls[0].text.size(), 127u);
}

TEST_F(DispatchTest, EachServedRecipientIsReportedBeforeItsPrompt)
{
    using R = RecipientOutcome::Result;
    std::vector<RecipientOutcome> seen;
    const OutcomeReport report = [&](const RecipientOutcome& outcome) {
        seen.push_back(outcome);
        ui.log.push_back("report");
    };
    net.statuses = {0, 2273, -5};
    SendMessages(RecipientList{{u" a ", u"", u"b", u"c"}}, u"hi", ui, net.Make(ui.log), report);
    EXPECT_EQ(seen, (std::vector<RecipientOutcome>{
                        {R::kDelivered, u"a", 0, 0}, {R::kFailed, u"b", 2273, 0}, {R::kFailed, u"c", -5, 0}}));
    EXPECT_EQ(ui.log, (Log{"busy", "send:a", "pump", "report", "send:b", "pump", "report", "ask:yes",
                           "send:c", "pump", "report", "ask:yes", "idle"}));

    // Not sent: the length with the sender line is the value, not a status.
    seen.clear();
    SendMessages(RecipientList{{u"a"}}, std::u16string(113, u'm'), ui, net.Make(ui.log), report);
    EXPECT_EQ(seen, (std::vector<RecipientOutcome>{{R::kTooLong, u"a", 0, 128}}));

    // The window closed during a send: that send is still told.
    seen.clear();
    ui.on_pump = [this] { ui.window_open = false; };
    SendMessages(RecipientList{{u"a", u"b"}}, u"hi", ui, net.Make(ui.log), report);
    EXPECT_EQ(seen.size(), 1u);
}

TEST_F(DispatchTest, ClosedWindowEndsTheDispatchWithoutFurtherSendOrBox)
{
    net.statuses = {0, 2273, 0};
    ui.on_pump = [this] { ui.window_open = false; };
    EXPECT_FALSE(Run(RecipientList{{u"a", u"b", u"c"}}));
    EXPECT_EQ(ui.log, (Log{"busy", "send:a", "pump", "idle"}));

    // Closed while a failed send was out: no prompt over a window that is gone.
    ui = FakeUi{};
    net.statuses = {2273};
    ui.on_pump = [this] { ui.window_open = false; };
    Run(RecipientList{{u"a", u"b"}});
    EXPECT_EQ(ui.log, (Log{"busy", "send:a", "pump", "idle"}));
}

}  // namespace
}  // namespace vindrel::testing
