// A reply sent without a window: the reply box's rules for one recipient.
#include <gtest/gtest.h>

#include "app/inbox/reply_send.h"
#include "core/prompt_texts.h"
#include "tests/core/fakes.h"

namespace vindrel::testing {
namespace {

TEST(SendReply, OneRecipientTheBoxsRulesAndWords)
{
    const std::u16string x127(127, u'x');
    struct Row {
        const char* what;
        std::u16string to, typed;
        NetStatus status;
        std::vector<std::u16string> sent;  // name, then text
        bool delivered;
        std::u16string notice;
    };
    const Row rows[] = {
        {"delivered, signed, LF sent as CR LF", u" ALICE ", u"a\nb", 0,
         {u"ALICE", u"a\r\nb\r\nSent by carol"}, true, u""},
        {"a ';' separates nothing", u"A;B", u"m", 0, {u"A;B", u"m\r\nSent by carol"}, true, u""},
        {"failure: the prompt's words without the question", u"ALICE", u"m", 2273,
         {u"ALICE", u"m\r\nSent by carol"}, false,
         u"Error: Message didn't reached to 'ALICE'.\r\nThe To field should contains valid login "
         u"name or computer name or * or user might not have logged on"},
        {"over 127 typed, a line break counting two: the notice, nothing sent", u"ALICE",
         std::u16string(126, u'x') + u"\n", 0, {}, false, OverLengthNotice(128)},
        {"fits typed, too long signed: refused, nothing sent", u"ALICE", x127, 0, {}, false,
         u"Error: Message to 'ALICE' is 142 chars with the sender line, which exceeds permitted "
         u"length of 127 char."},
        {"no name", u"  ", u"m", 0, {}, false, u"There is no name to reply to, so nothing was sent."},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        FakeNet net;
        net.login = u"carol";
        net.statuses = {row.status};
        std::vector<std::string> log;
        const ReplyResult result = SendReply(row.to, row.typed, net.Make(log));
        std::vector<std::u16string> sent;
        for (const auto& call : net.calls) sent.insert(sent.end(), {call.name, call.text});
        EXPECT_EQ(sent, row.sent);
        EXPECT_EQ(result.Delivered(), row.delivered);
        EXPECT_EQ(result.notice, row.notice);
    }
}

}  // namespace
}  // namespace vindrel::testing
