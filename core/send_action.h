// The Send action behind a window's Send button: the dispatch of what the
// window holds, with the To text remembered where the window keeps it.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "core/bindings.h"
#include "core/dispatch.h"
#include "platform/settings_store.h"

namespace vindrel {

// Where the To text is remembered.
inline constexpr std::u16string_view kSettingsApplication = u"Vindrel";
inline constexpr std::u16string_view kSettingsSection = u"Last Values";
inline constexpr std::u16string_view kSettingsKey = u"To";

// What the Send action needs of a window beyond the dispatch's events (its
// busy pointer, event pump and Yes/No box): the texts as typed and a box
// for a notice. Each toolkit's app/ folder implements it for its windows.
class SendWindow : public DispatchObserver {
public:
    // The recipients as typed, one text with ";" between names.
    virtual std::u16string ToText() = 0;
    // The message as typed, line breaks as CR LF.
    virtual std::u16string MessageText() = 0;
    // Modal box over the window, titled with the application title, no
    // icon, one OK button. Returns when the user closes it.
    virtual void ShowOk(std::u16string_view text) = 0;
};

class SendAction {
public:
    // Each run remembers the To text in `settings` once the message passed
    // the length check, before the first send.
    SendAction(SendWindow& window, SettingsStore& settings, Bindings bindings);
    // Runs remember nothing: for a window whose recipients are not the ones
    // to fill in at the next start.
    SendAction(SendWindow& window, Bindings bindings);

    // What pressing Send does. While an earlier run is still dispatching
    // (the event pump lets a second press through) it does nothing at all.
    // The over-length notice goes to the window's box. When the To text
    // cannot be stored the send still goes ahead; the user is told once in
    // the life of this action, before the dispatch. Returns what became of
    // each recipient served, in order.
    std::vector<RecipientOutcome> Run();

    bool Dispatching() const { return dispatching_; }

private:
    class Remembering;

    SendWindow& window_;
    SettingsStore* settings_;  // none: nothing is remembered
    Bindings bindings_;
    bool dispatching_ = false;
    bool told_unsaved_ = false;
};

}  // namespace vindrel
