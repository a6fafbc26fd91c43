// The Send action.
#include "core/send_action.h"

#include <utility>

#include "core/prompt_texts.h"

namespace vindrel {

// The window's own events, with the To text remembered between the length
// check and the first send, and the over-length notice in the window's box.
class SendAction::Remembering final : public DispatchObserver {
public:
    Remembering(SendAction& action, std::u16string_view to_text)
        : action_(action), window_(action.window_), to_text_(to_text)
    {
    }

    void MessageTooLong(std::u16string_view notice) override { window_.ShowOk(notice); }
    void Started() override
    {
        if (SettingsStore* settings = action_.settings_) {
            const auto unsaved =
                settings->Write(kSettingsApplication, kSettingsSection, kSettingsKey, to_text_);
            if (unsaved && !action_.told_unsaved_) {
                // Delivery matters more than the remembered text: say it once, then send.
                action_.told_unsaved_ = true;
                window_.ShowOk(UnsavedToNotice(*unsaved));
            }
        }
        window_.Started();
    }
    void Finished() override { window_.Finished(); }
    void Served(const RecipientOutcome& outcome) override { window_.Served(outcome); }
    bool StillOpen() override { return window_.StillOpen(); }
    bool GoOn(const RecipientOutcome& undelivered) override { return window_.GoOn(undelivered); }

private:
    SendAction& action_;
    SendWindow& window_;
    std::u16string_view to_text_;
};

SendAction::SendAction(SendWindow& window, SettingsStore& settings, Bindings bindings)
    : window_(window), settings_(&settings), bindings_(std::move(bindings))
{
}

SendAction::SendAction(SendWindow& window, Bindings bindings)
    : window_(window), settings_(nullptr), bindings_(std::move(bindings))
{
}

std::vector<RecipientOutcome> SendAction::Run()
{
    // A press that arrives through the event pump of a running dispatch is
    // held off: a nested dispatch would interleave prompts and sends.
    if (dispatching_) return {};
    dispatching_ = true;
    struct Reset {
        bool& flag;
        ~Reset() { flag = false; }
    } reset{dispatching_};

    const std::u16string to_text = window_.ToText();
    Remembering observer(*this, to_text);
    return Dispatch(to_text, window_.MessageText(), bindings_, observer);
}

}  // namespace vindrel
