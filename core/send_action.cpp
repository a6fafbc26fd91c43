// The Send action.
#include "core/send_action.h"

#include <utility>

#include "core/dispatch.h"

namespace vindrel {

std::optional<std::u16string> LengthNotice(std::u16string_view message)
{
    if (message.size() <= kMaxMessageChars) return std::nullopt;
    return OverLengthNotice(message.size());
}

SendAction::SendAction(UiServices& ui, SettingsStore& settings, Bindings bindings)
    : ui_(ui), settings_(&settings), bindings_(std::move(bindings))
{
}

SendAction::SendAction(UiServices& ui, Bindings bindings)
    : ui_(ui), settings_(nullptr), bindings_(std::move(bindings))
{
}

std::vector<RecipientOutcome> SendAction::Run()
{
    std::vector<RecipientOutcome> outcomes;
    // A press that arrives through the event pump of a running dispatch is
    // held off: a nested dispatch would interleave prompts and sends.
    if (dispatching_) return outcomes;

    const std::u16string message = ui_.MessageText();
    if (const auto notice = LengthNotice(message)) {
        ui_.ShowOk(*notice);
        return outcomes;
    }

    const std::u16string to_text = ui_.ToText();
    const RecipientList recipients = CutRecipients(to_text);
    if (settings_ != nullptr) {
        const auto unsaved =
            settings_->Write(kSettingsApplication, kSettingsSection, kSettingsKey, to_text);
        if (unsaved && !told_unsaved_) {
            // Delivery matters more than the remembered text: say it once, then send.
            told_unsaved_ = true;
            ui_.ShowOk(UnsavedToNotice(*unsaved));
        }
    }

    dispatching_ = true;
    struct Reset {
        bool& flag;
        ~Reset() { flag = false; }
    } reset{dispatching_};
    // The text that passed the check is the text sent.
    SendMessages(recipients, message, ui_, bindings_,
                 [&outcomes](const RecipientOutcome& outcome) { outcomes.push_back(outcome); });
    return outcomes;
}

}  // namespace vindrel
