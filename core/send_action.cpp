// The Send action.
#include "core/send_action.h"

#include <utility>

namespace vindrel {

RecipientList CutRecipients(std::u16string_view to_text)
{
    if (to_text.empty()) return std::nullopt;
    std::vector<std::u16string> entries;
    std::size_t start = 0;
    for (auto semicolon = to_text.find(u';'); semicolon != std::u16string_view::npos;
         semicolon = to_text.find(u';', start)) {
        entries.emplace_back(to_text.substr(start, semicolon - start));
        start = semicolon + 1;
    }
    if (start < to_text.size() || entries.empty()) entries.emplace_back(to_text.substr(start));
    return entries;
}

std::u16string OverLengthNotice(std::size_t chars)
{
    return u"Message length is " + Decimal(static_cast<long long>(chars)) +
           u" chars which exceeds permitted length of 128 char.";
}

std::optional<std::u16string> LengthNotice(std::u16string_view message)
{
    if (message.size() <= kMaxMessageChars) return std::nullopt;
    return OverLengthNotice(message.size());
}

std::u16string UnsavedToNotice(std::u16string_view reason)
{
    std::u16string text =
        u"The To text could not be saved, so it will not be filled in at the next start.\r\n";
    text += reason;
    return text;
}

SendAction::SendAction(UiServices& ui, SettingsStore& settings, Bindings bindings)
    : ui_(ui), settings_(settings), bindings_(std::move(bindings))
{
}

void SendAction::Run()
{
    // A press that arrives through the event pump of a running dispatch is
    // held off: a nested dispatch would interleave prompts and sends.
    if (dispatching_) return;

    const std::u16string message = ui_.MessageText();
    if (const auto notice = LengthNotice(message)) {
        ui_.ShowOk(*notice);
        return;
    }

    const std::u16string to_text = ui_.ToText();
    const RecipientList recipients = CutRecipients(to_text);
    const auto unsaved = settings_.Write(kSettingsApplication, kSettingsSection, kSettingsKey, to_text);
    if (unsaved && !told_unsaved_) {
        // Delivery matters more than the remembered text: say it once, then send.
        told_unsaved_ = true;
        ui_.ShowOk(UnsavedToNotice(*unsaved));
    }

    dispatching_ = true;
    struct Reset {
        bool& flag;
        ~Reset() { flag = false; }
    } reset{dispatching_};
    // The text that passed the check is the text sent.
    SendMessages(recipients, message, ui_, bindings_);
}

}  // namespace vindrel
