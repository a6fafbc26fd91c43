// The texts of the notices and prompts. They are shown to people who know
// them word for word, mistakes and all: change none of them.
#include "core/prompt_texts.h"

#include "core/decimal.h"

namespace vindrel {
namespace {

constexpr std::u16string_view kCrLf = u"\r\n";

}  // namespace

std::u16string OverLengthNotice(std::size_t chars)
{
    return u"Message length is " + Decimal(static_cast<long long>(chars)) +
           u" chars which exceeds permitted length of 128 char.";
}

std::u16string UnsavedToNotice(std::u16string_view reason)
{
    std::u16string text =
        u"The To text could not be saved, so it will not be filled in at the next start.\r\n";
    text += reason;
    return text;
}

std::u16string UndeliveredText(const RecipientOutcome& outcome)
{
    std::u16string text;
    if (outcome.Delivered()) return text;
    if (outcome.over_length) {
        text = u"Error: Message to '";
        text += outcome.name;
        text += u"' is ";
        text += Decimal(static_cast<long long>(*outcome.over_length));
        text += u" chars with the sender line, which exceeds permitted length of 127 char.";
    } else if (outcome.sent.CutShort()) {
        const EveryoneCounts& everyone = *outcome.sent.everyone;
        text = u"Error: Message reached " + Decimal(static_cast<long long>(everyone.reached)) +
               u" computers for '*'; " + Decimal(static_cast<long long>(everyone.not_reached)) +
               u" more answered but were not reached (too many computers or too little time).";
    } else if (const NetStatus status = StatusNumber(outcome.sent);
               status == net_status::kNameNotFound) {
        text = u"Error: Message didn't reached to '";
        text += outcome.name;
        text += u"'.";
        text += kCrLf;
        text += u"The To field should contains valid login name or computer name or * or user "
                u"might not have logged on";
    } else {
        text = u"Oops! Something wrong! To field should contain user or computer name or "
               u"contact Dorvik! Error code is ";
        text += Decimal(status);
    }
    return text;
}

std::u16string ContinuePrompt(const RecipientOutcome& outcome)
{
    std::u16string text = UndeliveredText(outcome);
    text += kCrLf;
    text += u"Continue?";
    return text;
}

}  // namespace vindrel
