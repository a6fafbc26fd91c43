// SendMessages: one network send per non-blank recipient, each copy signed
// with a sender line, each recipient's outcome reported, and a Yes/No
// prompt after every one the message did not reach.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

#include "core/bindings.h"
#include "core/recipient_list.h"
#include "core/recipient_outcome.h"
#include "platform/netmsg.h"
#include "core/ui_services.h"

namespace vindrel {

// Longest outgoing text the send can carry: 255 bytes of UTF-16.
inline constexpr std::size_t kMaxOutgoingChars = kMaxSendChars;

// The recipient's name: the entry without leading and trailing U+0020.
std::u16string TrimName(std::u16string_view entry);

// The message with the sender line after it, unless the login is exempt.
std::u16string OutgoingText(std::u16string_view message, std::u16string_view login);

// Serves one recipient `name` (already trimmed, not blank): looks up the
// login name once, signs the message, and sends it unless the signed text
// is too long for one send. Asks nothing and shows nothing.
RecipientOutcome SendToRecipient(std::u16string_view name, std::u16string_view message,
                                 const Bindings& bindings);

// Hears of every recipient the dispatch serves, in list order, as soon as
// it is served and before any prompt about it.
using OutcomeReport = std::function<void(const RecipientOutcome&)>;

// Runs the whole dispatch: the busy cursor throughout, the event pump after
// each send, `ui.AskToContinue` after each recipient not delivered. Returns
// false when it was cut short (the answer No, or the window closed), true
// when every entry was served.
bool SendMessages(const RecipientList& recipients, std::u16string message, UiServices& ui,
                  const Bindings& bindings, const OutcomeReport& report = nullptr);

}  // namespace vindrel
