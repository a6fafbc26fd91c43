// Dispatch: the one way a typed message goes out, from the window, the
// command line and the inbox alike. The length check, the To text cut into
// recipients, one signed send per non-blank recipient, each step told to a
// narrow observer: each front end overrides only the events it shows.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "core/bindings.h"
#include "core/recipient_outcome.h"

namespace vindrel {

// Longest typed message, in characters (255 bytes of UTF-16).
inline constexpr std::size_t kMaxMessageChars = 127;

// The recipient's name: the entry without leading and trailing U+0020.
std::u16string TrimName(std::u16string_view entry);

// The message with the sender line after it, unless the login is exempt.
std::u16string OutgoingText(std::u16string_view message, std::u16string_view login);

// What a dispatch tells whoever runs it, in order. Every event has a
// default that shows nothing and goes on.
class DispatchObserver {
public:
    virtual ~DispatchObserver() = default;

    // The typed message is over kMaxMessageChars: nothing is sent, and no
    // other event follows. `notice` is its OverLengthNotice.
    virtual void MessageTooLong(std::u16string_view /*notice*/) {}

    // The message fits: the recipients are served next, and Finished
    // follows however the dispatch ends (also when the To text names nobody).
    virtual void Started() {}
    virtual void Finished() {}

    // One recipient served, in list order, before any question about it.
    virtual void Served(const RecipientOutcome& /*outcome*/) {}

    // After each send, which blocked the caller: the window handles what
    // queued up meanwhile. False once the window is gone, which ends the
    // dispatch without a further send or question.
    virtual bool StillOpen() { return true; }

    // After a recipient the message did not reach: false ends the dispatch.
    virtual bool GoOn(const RecipientOutcome& /*undelivered*/) { return true; }
};

// Sends `message` (as typed, line breaks as CR LF: see WithCrLf) to every
// recipient of `to_text` (CutRecipients), each copy signed with a sender
// line. Returns what became of each recipient served, in order: nothing
// when the message was too long or the To text named nobody.
std::vector<RecipientOutcome> Dispatch(std::u16string_view to_text, std::u16string_view message,
                                       const Bindings& bindings, DispatchObserver& observer);

}  // namespace vindrel
