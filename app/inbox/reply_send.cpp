// A reply without a window.
#include "app/inbox/reply_send.h"

#include "app/inbox/reply_target.h"
#include "core/dispatch.h"
#include "core/line_breaks.h"
#include "core/prompt_texts.h"

namespace vindrel {
namespace {

// The one event a reply without a window shows: its over-length notice.
struct NoticeOnly final : DispatchObserver {
    explicit NoticeOnly(std::u16string& into) : notice(into) {}
    void MessageTooLong(std::u16string_view text) override { notice = text; }
    std::u16string& notice;
};

}  // namespace

ReplyResult SendReply(std::u16string_view to, std::u16string_view typed, const Bindings& bindings)
{
    ReplyResult result;
    ReplyRefusal refusal;
    const std::u16string name = ReplyRecipient(to, refusal);
    // A refused name is no recipient at all, so that the length is checked first.
    NoticeOnly observer(result.notice);
    const auto outcomes =
        Dispatch(refusal == ReplyRefusal::kNone ? name : std::u16string(), WithCrLf(typed), bindings,
                 observer);
    if (!result.notice.empty()) return result;
    if (refusal != ReplyRefusal::kNone) {
        // A reply the user typed must not vanish quietly.
        result.notice = (ReplyRefusalText(refusal) + QStringLiteral(" Nothing was sent."))
                            .toStdU16String();
        return result;
    }
    result.outcome = outcomes.front();
    result.notice = UndeliveredText(*result.outcome);
    return result;
}

}  // namespace vindrel
