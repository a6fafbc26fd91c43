// One reply sent without a window: what the inbox runs for a reply typed
// into a desktop notification. It is the reply box's Send for its one
// recipient, with the same length check and notice, the same sender line
// and the same words for a failure, but no Yes/No box: a reply has one
// recipient, so there is nothing left to go on with.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "core/bindings.h"
#include "core/recipient_outcome.h"

namespace vindrel {

struct ReplyResult {
    // What became of the recipient; absent when nothing was sent because
    // the message was too long or there was no name to send it to.
    std::optional<RecipientOutcome> outcome;
    // What to tell the user, in the reply box's words without its question;
    // empty when the reply was delivered.
    std::u16string notice;

    bool Delivered() const { return outcome && outcome->Delivered(); }
};

// Sends `typed` to `to`, the name a message came from, when it can be a
// reply's recipient (reply_target.h); else sends nothing and says why. Line breaks in `typed` may be LF or CR LF; each counts
// two characters against the limit, as in the reply box. Calls the
// bindings on the calling thread and blocks as long as the send does
// (within its own deadline), so a window that must stay live runs it on
// another thread.
ReplyResult SendReply(std::u16string_view to, std::u16string_view typed, const Bindings& bindings);

}  // namespace vindrel
