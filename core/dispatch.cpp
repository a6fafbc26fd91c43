// The recipient dispatch.
#include "core/dispatch.h"

#include <algorithm>

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

// Turns the cursor back to the default pointer however the dispatch ends.
class BusyCursor {
public:
    explicit BusyCursor(UiServices& ui) : ui_(ui) { ui_.SetBusyCursor(true); }
    ~BusyCursor() { ui_.SetBusyCursor(false); }
    BusyCursor(const BusyCursor&) = delete;
    BusyCursor& operator=(const BusyCursor&) = delete;

private:
    UiServices& ui_;
};

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

RecipientOutcome SendToRecipient(std::u16string_view name, std::u16string_view message,
                                 const Bindings& bindings)
{
    RecipientOutcome outcome;
    outcome.name = name;
    const std::u16string outgoing = OutgoingText(message, bindings.login_name());
    if (outgoing.size() > kMaxOutgoingChars) {
        // The send's one-byte length cannot describe this text, and cutting
        // it would deliver something other than what was typed.
        outcome.result = RecipientOutcome::Result::kTooLong;
        outcome.outgoing_chars = outgoing.size();
        return outcome;
    }
    const SendReport report = bindings.send(name, outgoing);
    outcome.status = report.status;
    outcome.shortfall = report.shortfall;
    if (outcome.status != net_status::kSuccess || outcome.shortfall)
        outcome.result = RecipientOutcome::Result::kFailed;
    return outcome;
}

bool SendMessages(const RecipientList& recipients, std::u16string message, UiServices& ui,
                  const Bindings& bindings, const OutcomeReport& report)
{
    BusyCursor busy(ui);
    if (!recipients) return true;

    for (const auto& entry : *recipients) {
        const std::u16string name = TrimName(entry);
        if (name.empty()) continue;

        const RecipientOutcome outcome = SendToRecipient(name, message, bindings);
        // Only a send blocked the window, so only a send needs the pump.
        const bool window_open =
            outcome.result == RecipientOutcome::Result::kTooLong || ui.PumpEvents();
        if (report) report(outcome);
        if (!window_open) return false;  // nobody left to ask
        if (!outcome.Delivered() && !ui.AskToContinue(outcome)) return false;
    }
    return true;
}

}  // namespace vindrel
