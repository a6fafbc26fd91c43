// The recipient dispatch.
#include "core/dispatch.h"

#include <algorithm>

namespace vindrel {
namespace {

constexpr std::u16string_view kCrLf = u"\r\n";
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

std::u16string Decimal(long long value)
{
    // Work on the negative side so the most negative value needs no special case.
    const bool negative = value < 0;
    if (!negative) value = -value;
    std::u16string digits;
    do {
        digits.insert(digits.begin(), static_cast<char16_t>(u'0' - value % 10));
        value /= 10;
    } while (value != 0);
    if (negative) digits.insert(digits.begin(), u'-');
    return digits;
}

std::u16string FailurePrompt(NetStatus status, std::u16string_view name)
{
    std::u16string text;
    if (status == net_status::kNameNotFound) {
        text = u"Error: Message didn't reached to '";
        text += name;
        text += u"'.";
        text += kCrLf;
        text += u"The To field should contains valid login name or computer name or * or user might "
                u"not have logged on";
    } else {
        text = u"Oops! Something wrong! To field should contain user or computer name or contact "
               u"Dorvik! Error code is ";
        text += Decimal(status);
    }
    text += kCrLf;
    text += u"Continue?";
    return text;
}

std::u16string OverlongPrompt(std::u16string_view name, std::size_t outgoing_chars)
{
    std::u16string text = u"Error: Message to '";
    text += name;
    text += u"' is ";
    text += Decimal(static_cast<long long>(outgoing_chars));
    text += u" chars with the sender line, which exceeds permitted length of 127 char.";
    text += kCrLf;
    text += u"Continue?";
    return text;
}

bool SendMessages(const RecipientList& recipients, std::u16string message, UiServices& ui,
                  const Bindings& bindings)
{
    BusyCursor busy(ui);
    if (!recipients) return true;

    for (const auto& entry : *recipients) {
        const std::u16string name = TrimName(entry);
        if (name.empty()) continue;

        const std::u16string outgoing = OutgoingText(message, bindings.login_name());
        std::u16string prompt;
        if (outgoing.size() > kMaxOutgoingChars) {
            // The send's one-byte length cannot describe this text, and
            // cutting it would deliver something other than what was typed.
            prompt = OverlongPrompt(name, outgoing.size());
        } else {
            const NetStatus status = bindings.send(name, outgoing);
            if (!ui.PumpEvents()) return false;  // frmMain is gone: nobody to ask
            if (status == net_status::kSuccess) continue;
            prompt = FailurePrompt(status, name);
        }
        if (!ui.AskYesNo(prompt)) return false;
    }
    return true;
}

}  // namespace vindrel
