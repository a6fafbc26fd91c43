// A reply sent without a window: the reply box's rules for one recipient.
#include <gtest/gtest.h>

#include "app/inbox/reply_send.h"
#include "app/inbox/reply_target.h"
#include "core/prompt_texts.h"
#include "platform/cp850.h"
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
        {"a ';' would make several recipients: refused", u"A;B", u"m", 0, {}, false,
         u"No reply: the sender's name holds \";\", which would make it several recipients. "
         u"Nothing was sent."},
        {"failure: the prompt's words without the question", u"ALICE", u"m", 2273,
         {u"ALICE", u"m\r\nSent by carol"}, false,
         u"Error: Message didn't reached to 'ALICE'.\r\nThe To field should contains valid login "
         u"name or computer name or * or user might not have logged on"},
        {"over 127 typed, a line break counting two: the notice, nothing sent", u"ALICE",
         std::u16string(126, u'x') + u"\n", 0, {}, false, OverLengthNotice(128)},
        {"fits typed, too long signed: refused, nothing sent", u"ALICE", x127, 0, {}, false,
         u"Error: Message to 'ALICE' is 142 chars with the sender line, which exceeds permitted "
         u"length of 127 char."},
        {"no name", u"  ", u"m", 0, {}, false,
         u"No reply: the message names no sender. Nothing was sent."},
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

// Any peer names itself: only a name that reaches that one computer is
// replied to, in the LAN's code page (CP850 here).
TEST(ReplyRecipient, OneNetBiosNameOrWhyNot)
{
    const struct {
        std::u16string from, to;
        ReplyRefusal refusal;
    } rows[] = {
        {u" alice ", u"alice", ReplyRefusal::kNone},
        {u"FIFTEEN-CHARS-X", u"FIFTEEN-CHARS-X", ReplyRefusal::kNone},
        {u"\u00e9t\u00e9", u"\u00e9t\u00e9", ReplyRefusal::kNone},
        {u"*", u"", ReplyRefusal::kEveryone},
        {u" * ", u"", ReplyRefusal::kEveryone},
        {u"ALICE;CAROL", u"", ReplyRefusal::kSeveralNames},
        {u"", u"", ReplyRefusal::kNoName},
        {u"   ", u"", ReplyRefusal::kNoName},
        {u"SIXTEEN-CHARS-XY", u"", ReplyRefusal::kTooLong},
        {u"A\tB", u"", ReplyRefusal::kControl},
        {u"A\u0085B", u"", ReplyRefusal::kControl},
        {u"\u4e2d\u6587", u"", ReplyRefusal::kNotInCodePage},
    };
    for (const auto& row : rows) {
        ReplyRefusal refusal;
        EXPECT_EQ(ReplyRecipient(row.from, refusal, Cp850()), row.to);
        EXPECT_EQ(refusal, row.refusal);
    }
}

}  // namespace
}  // namespace vindrel::testing
