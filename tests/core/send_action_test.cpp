// The Send action: length check, cutting, remembering the To text, guard.
#include <gtest/gtest.h>

#include <algorithm>

#include "core/recipient_list.h"
#include "core/send_action.h"
#include "tests/core/fakes.h"

namespace vindrel::testing {
namespace {

using Log = std::vector<std::string>;

TEST(CutRecipients, Table)
{
    using List = std::vector<std::u16string>;
    const std::pair<std::u16string, List> rows[] = {
        {u"pc42", {u"pc42"}},
        {u"user1;pc42", {u"user1", u"pc42"}},
        {u"user1;b", {u"user1", u"b"}},
        {u"user1; pc42;", {u"user1", u" pc42"}},
        {u";user1", {u"", u"user1"}},
        {u"user1;;pc42", {u"user1", u"", u"pc42"}},
        {u"*", {u"*"}},
        {u";", {u""}},
        {u";;", {u"", u""}},
        {u" ", {u" "}},
        {u"a, b\r\nc", {u"a, b\r\nc"}},
    };
    for (const auto& [to, entries] : rows) {
        auto list = CutRecipients(to);
        ASSERT_TRUE(list.has_value()) << Narrow(to);
        EXPECT_EQ(*list, entries) << Narrow(to);
    }
    EXPECT_FALSE(CutRecipients(u"").has_value());
}

struct SendActionTest : ::testing::Test {
    FakeUi ui;
    FakeSettings settings;
    FakeNet net;
    SendAction action{ui, settings, net.Make(ui.log)};

    SendActionTest() { settings.log = &ui.log; }

    std::u16string Stored()
    {
        return settings.Read(u"Vindrel", u"Last Values", u"To", u"<none>");
    }
};

TEST_F(SendActionTest, LengthBoundary)
{
    ui.to_text = u"pc42";
    ui.message_text = std::u16string(127, u'x');
    net.login = u"dorviks";  // no sender line, so all 127 characters can go out
    action.Run();
    ASSERT_EQ(net.calls.size(), 1u);
    EXPECT_EQ(net.calls[0].text, ui.message_text);

    settings.entries.clear();
    net.calls.clear();
    ui.log.clear();
    ui.message_text += u'x';
    action.Run();
    EXPECT_EQ(ui.log, (Log{"ok"})) << "nothing but the notice";
    EXPECT_EQ(ui.prompts.back(), u"Message length is 128 chars which exceeds permitted length of 128 char.");
    EXPECT_EQ(Stored(), u"<none>");
    EXPECT_TRUE(net.calls.empty());

    ui.message_text = std::u16string(1000, u'x');
    action.Run();
    EXPECT_EQ(ui.prompts.back(), u"Message length is 1000 chars which exceeds permitted length of 128 char.");
}

TEST_F(SendActionTest, ToTextIsStoredBeforeAnyDelivery)
{
    ui.to_text = u"user1; pc42;";
    net.statuses = {2273, 2273};
    action.Run();
    EXPECT_EQ(ui.log.front(), "write:user1; pc42;");
    EXPECT_EQ(ui.log[1], "busy");
    EXPECT_EQ(Stored(), u"user1; pc42;") << "remembered although every delivery failed";
}

TEST_F(SendActionTest, EmptyToTextIsStoredAndSendsNothing)
{
    settings.entries[{u"Vindrel", u"Last Values", u"To"}] = u"old";
    ui.message_text = u"";
    action.Run();
    EXPECT_EQ(Stored(), u"");
    EXPECT_EQ(ui.log, (Log{"write:", "busy", "idle"}));
}

TEST_F(SendActionTest, RefusedMessageKeepsThePreviousEntry)
{
    ui.to_text = u"first";
    action.Run();
    ui.to_text = u"second";
    ui.message_text = std::u16string(128, u'x');
    action.Run();
    EXPECT_EQ(Stored(), u"first");
}

TEST_F(SendActionTest, RefusedWriteIsToldOnceAndTheSendGoesAhead)
{
    settings.refusal = u"/home/a/.config/Vindrel.ini: Permission denied";
    ui.to_text = u"a;b";
    action.Run();
    EXPECT_EQ(ui.log, (Log{"refused:a;b", "ok", "busy", "send:a", "pump", "send:b", "pump", "idle"}));
    EXPECT_EQ(ui.prompts[0],
              u"The To text could not be saved, so it will not be filled in at the next start.\r\n"
              u"/home/a/.config/Vindrel.ini: Permission denied");

    ui.log.clear();
    action.Run();
    EXPECT_EQ(ui.log.front(), "refused:a;b");
    EXPECT_EQ(std::count(ui.log.begin(), ui.log.end(), "ok"), 0) << "told once per run";
    EXPECT_EQ(net.calls.size(), 4u);
}

TEST_F(SendActionTest, UntouchedHintIsOneRecipient)
{
    ui.to_text = u"Login names seperated by semicolon (or enter * for all)";
    net.statuses = {2273};
    action.Run();
    ASSERT_EQ(net.calls.size(), 1u);
    EXPECT_EQ(net.calls[0].name, ui.to_text);
    EXPECT_EQ(ui.log.back(), "idle");
    EXPECT_EQ(ui.log[ui.log.size() - 2], "ask:yes");
}

TEST_F(SendActionTest, SecondSendDuringADispatchIsHeldOff)
{
    ui.to_text = u"a;b";
    int presses = 0;
    ui.on_pump = [&] {
        ++presses;
        ui.to_text = u"intruder";
        EXPECT_TRUE(action.Dispatching());
        action.Run();
    };
    action.Run();
    EXPECT_EQ(presses, 2);
    EXPECT_EQ(ui.log, (Log{"write:a;b", "busy", "send:a", "pump", "send:b", "pump", "idle"}));
    EXPECT_EQ(Stored(), u"a;b");
    EXPECT_FALSE(action.Dispatching());

    // Held off only while it runs: the next press works again.
    ui.on_pump = nullptr;
    action.Run();
    EXPECT_EQ(Stored(), u"intruder");
}

TEST_F(SendActionTest, RunReturnsTheOutcomesAndAStorelessActionRemembersNothing)
{
    SendAction storeless{ui, net.Make(ui.log)};
    ui.to_text = u"a;;b";
    net.statuses = {2273};
    const auto outcomes = storeless.Run();
    ASSERT_EQ(outcomes.size(), 2u);
    EXPECT_EQ(StatusNumber(outcomes[0].sent), 2273);
    EXPECT_TRUE(outcomes[1].Delivered());
    EXPECT_EQ(ui.log.front(), "busy") << "no write, no notice";
    EXPECT_EQ(Stored(), u"<none>");

    ui.message_text = std::u16string(128, u'x');
    EXPECT_TRUE(storeless.Run().empty()) << "refused before any recipient";
}

TEST_F(SendActionTest, ClosingTheWindowEndsTheRun)
{
    ui.to_text = u"a;b;c";
    ui.on_pump = [&] { ui.window_open = false; };
    action.Run();
    EXPECT_EQ(net.calls.size(), 1u);
    EXPECT_EQ(ui.busy_depth, 0);
    EXPECT_FALSE(action.Dispatching());
}

}  // namespace
}  // namespace vindrel::testing
