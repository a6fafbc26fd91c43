// A reply without a window.
#include "app/inbox/reply_send.h"

#include "app/inbox/reply_target.h"
#include "core/dispatch.h"
#include "core/line_breaks.h"
#include "core/prompt_texts.h"
#include "core/send_action.h"

namespace vindrel {

ReplyResult SendReply(std::u16string_view to, std::u16string_view typed, const Bindings& bindings)
{
    ReplyResult result;
    const std::u16string message = WithCrLf(typed);
    if (auto notice = LengthNotice(message)) {
        result.notice = std::move(*notice);
        return result;
    }
    ReplyRefusal refusal;
    const std::u16string name = ReplyRecipient(to, refusal);
    if (refusal != ReplyRefusal::kNone) {
        // A reply the user typed must not vanish quietly.
        result.notice = (ReplyRefusalText(refusal) + QStringLiteral(" Nothing was sent."))
                            .toStdU16String();
        return result;
    }
    result.outcome = SendToRecipient(name, message, bindings);
    result.notice = UndeliveredText(*result.outcome);
    return result;
}

}  // namespace vindrel
