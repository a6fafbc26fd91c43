// The words of every box the core's work leads to, in one place, so that
// both windows, the command line and the inbox say exactly the same.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "core/recipient_outcome.h"

namespace vindrel {

// The notice for a typed message of `chars` characters that is too long.
std::u16string OverLengthNotice(std::size_t chars);

// The notice for a To text the settings store could not keep; `reason` is
// the store's own account of it.
std::u16string UnsavedToNotice(std::u16string_view reason);

// Why the message did not reach `outcome`'s recipient, naming the status
// number (StatusNumber) or the length, or for "*" cut short how many
// computers it reached and how many it did not; empty for a delivered
// recipient.
std::u16string UndeliveredText(const RecipientOutcome& outcome);

// The Yes/No prompt after a recipient the message did not reach: its
// UndeliveredText, then CR LF "Continue?".
std::u16string ContinuePrompt(const RecipientOutcome& outcome);

}  // namespace vindrel
