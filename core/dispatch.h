// SendMessages: one network send per non-blank recipient, each copy signed
// with a sender line, a Yes/No prompt after every failure.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/netmsg.h"
#include "platform/ui_services.h"

namespace vindrel {

// Entries exactly as cut from the To text: untrimmed, possibly empty.
// Absent (nullopt) for an empty To text.
using RecipientList = std::optional<std::vector<std::u16string>>;

// The network send and the login-name lookup the dispatch calls, as values
// so tests can script them. Production wires SendNetMessage and GetLoginName.
struct Bindings {
    std::function<NetStatus(std::u16string_view name, std::u16string_view text)> send;
    std::function<std::u16string()> login_name;
};

// Longest outgoing text the send can carry: 255 bytes of UTF-16.
inline constexpr std::size_t kMaxOutgoingChars = kMaxSendChars;

// The recipient's name: the entry without leading and trailing U+0020.
std::u16string TrimName(std::u16string_view entry);

// The message with the sender line after it, unless the login is exempt.
std::u16string OutgoingText(std::u16string_view message, std::u16string_view login);

// The prompt text for a failed send, ending in CR LF "Continue?".
std::u16string FailurePrompt(NetStatus status, std::u16string_view name);

// The prompt text for an outgoing text too long to send to `name`.
std::u16string OverlongPrompt(std::u16string_view name, std::size_t outgoing_chars);

// Decimal digits of `value`, with a leading '-' when negative.
std::u16string Decimal(long long value);

// Runs the whole dispatch. Returns false when it was cut short (the answer
// No, or frmMain closed), true when every entry was served.
bool SendMessages(const RecipientList& recipients, std::u16string message, UiServices& ui,
                  const Bindings& bindings);

}  // namespace vindrel
