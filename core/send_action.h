// The Send action behind cmdSend: length check, cutting the To text,
// remembering it, then the dispatch.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "core/dispatch.h"
#include "platform/settings_store.h"
#include "platform/ui_services.h"

namespace vindrel {

// Where the To text is remembered.
inline constexpr std::u16string_view kSettingsApplication = u"Vindrel";
inline constexpr std::u16string_view kSettingsSection = u"Last Values";
inline constexpr std::u16string_view kSettingsKey = u"To";

// Longest typed message, in characters (255 bytes of UTF-16).
inline constexpr std::size_t kMaxMessageChars = 127;

// Cuts the To text at every ";". A trailing ";" gives no empty final entry;
// empty pieces before or between semicolons do become entries.
RecipientList CutRecipients(std::u16string_view to_text);

// The notice for a typed message of `chars` characters that is too long.
std::u16string OverLengthNotice(std::size_t chars);

// The length check on a typed message: its over-length notice, or nothing
// when it fits. The window and the command line refuse by the same rule.
std::optional<std::u16string> LengthNotice(std::u16string_view message);

// The notice for a To text the settings store could not keep; `reason` is
// the store's own account of it.
std::u16string UnsavedToNotice(std::u16string_view reason);

class SendAction {
public:
    SendAction(UiServices& ui, SettingsStore& settings, Bindings bindings);

    // What pressing cmdSend does. While an earlier run is still dispatching
    // (the event pump lets a second press through) it does nothing at all.
    // When the To text cannot be stored the send still goes ahead; the user
    // is told once in the life of this action, before the dispatch.
    void Run();

    bool Dispatching() const { return dispatching_; }

private:
    UiServices& ui_;
    SettingsStore& settings_;
    Bindings bindings_;
    bool dispatching_ = false;
    bool told_unsaved_ = false;
};

}  // namespace vindrel
