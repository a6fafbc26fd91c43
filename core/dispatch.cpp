// The recipient dispatch.
#include "core/dispatch.h"

#include <algorithm>

#include "core/prompt_texts.h"
#include "core/recipient_list.h"

namespace vindrel {
namespace {

constexpr std::u16string_view kCrLf = u"\r\n";
// The maintainer's own login, the Dorvik the prompts name: their messages go out unsigned.
constexpr std::u16string_view kExemptLogin = u"dorviks";

// Only the comparison with the exempt login needs lower case, and that name
// is plain ASCII, so folding ASCII letters is enough.
bool IsExemptLogin(std::u16string_view login)
{
    if (login.size() != kExemptLogin.size()) return false;
    return std::equal(login.begin(), login.end(), kExemptLogin.begin(), [](char16_t c, char16_t e) {
        if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
        return c == e;
    });
}

// Serves one recipient `name` (trimmed, not blank): looks up the login name
// once, signs the message, and sends it unless the signed text is too long
// for one send.
RecipientOutcome SendToRecipient(std::u16string_view name, std::u16string_view message,
                                 const Bindings& bindings)
{
    RecipientOutcome outcome{std::u16string(name)};
    const std::u16string outgoing = OutgoingText(message, bindings.login_name());
    if (outgoing.size() > kMaxSendChars) {
        // The send's one-byte length cannot describe this text, and cutting
        // it would deliver something other than what was typed.
        outcome.sent.result = SendOutcome::Result::kTooLong;
        outcome.over_length = outgoing.size();
        return outcome;
    }
    outcome.sent = bindings.send(name, outgoing);
    return outcome;
}

}  // namespace

std::u16string TrimName(std::u16string_view entry)
{
    const auto first = entry.find_first_not_of(u' ');
    if (first == std::u16string_view::npos) return {};
    const auto last = entry.find_last_not_of(u' ');
    return std::u16string(entry.substr(first, last - first + 1));
}

std::u16string OutgoingText(std::u16string_view message, std::u16string_view login)
{
    std::u16string text(message);
    if (!IsExemptLogin(login)) {
        text += kCrLf;
        text += u"Sent by ";
        text += login;
    }
    return text;
}

std::vector<RecipientOutcome> Dispatch(std::u16string_view to_text, std::u16string_view message,
                                       const Bindings& bindings, DispatchObserver& observer)
{
    std::vector<RecipientOutcome> outcomes;
    if (message.size() > kMaxMessageChars) {
        observer.MessageTooLong(OverLengthNotice(message.size()));
        return outcomes;
    }
    observer.Started();
    struct Finish {
        DispatchObserver& observer;
        ~Finish() { observer.Finished(); }
    } finish{observer};
    const RecipientList recipients = CutRecipients(to_text);
    if (!recipients) return outcomes;

    for (const auto& entry : *recipients) {
        const std::u16string name = TrimName(entry);
        if (name.empty()) continue;

        const RecipientOutcome& outcome =
            outcomes.emplace_back(SendToRecipient(name, message, bindings));
        // Only a send blocked the window, so only a send needs the pump.
        const bool open = outcome.over_length || observer.StillOpen();
        observer.Served(outcome);
        if (!open) break;  // nobody left to ask
        if (!outcome.Delivered() && !observer.GoOn(outcome)) break;
    }
    return outcomes;
}

}  // namespace vindrel
