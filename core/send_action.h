// The Send action behind a window's Send button: length check, cutting the
// To text, remembering it where the window keeps it, then the dispatch.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/bindings.h"
#include "core/prompt_texts.h"
#include "core/recipient_list.h"
#include "core/recipient_outcome.h"
#include "core/ui_services.h"
#include "platform/settings_store.h"

namespace vindrel {

// Where the To text is remembered.
inline constexpr std::u16string_view kSettingsApplication = u"Vindrel";
inline constexpr std::u16string_view kSettingsSection = u"Last Values";
inline constexpr std::u16string_view kSettingsKey = u"To";

// Longest typed message, in characters (255 bytes of UTF-16).
inline constexpr std::size_t kMaxMessageChars = 127;

// The length check on a typed message: its over-length notice, or nothing
// when it fits. The windows, the command line and the inbox refuse by the
// same rule.
std::optional<std::u16string> LengthNotice(std::u16string_view message);

class SendAction {
public:
    // Each run remembers the To text in `settings` before its dispatch.
    SendAction(UiServices& ui, SettingsStore& settings, Bindings bindings);
    // Runs remember nothing: for a window whose recipients are not the ones
    // to fill in at the next start.
    SendAction(UiServices& ui, Bindings bindings);

    // What pressing Send does. While an earlier run is still dispatching
    // (the event pump lets a second press through) it does nothing at all.
    // When the To text cannot be stored the send still goes ahead; the user
    // is told once in the life of this action, before the dispatch.
    // Returns what became of each recipient served, in order: nothing when
    // the message was refused as too long, the press was held off, or the
    // To text named nobody.
    std::vector<RecipientOutcome> Run();

    bool Dispatching() const { return dispatching_; }

private:
    UiServices& ui_;
    SettingsStore* settings_;  // none: nothing is remembered
    Bindings bindings_;
    bool dispatching_ = false;
    bool told_unsaved_ = false;
};

}  // namespace vindrel
