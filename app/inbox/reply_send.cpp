// A reply without a window.
#include "app/inbox/reply_send.h"

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
    const std::u16string name = TrimName(to);
    if (name.empty()) {
        // A blank To box sends nowhere and says nothing; a reply the user
        // typed must not vanish as quietly.
        result.notice = u"There is no name to reply to, so nothing was sent.";
        return result;
    }
    result.outcome = SendToRecipient(name, message, bindings);
    result.notice = UndeliveredText(*result.outcome);
    return result;
}

}  // namespace vindrel
