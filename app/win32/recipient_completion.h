// Completion in txtTo: the name being typed (the part after the last ";")
// from the recipients sent to before, most recent first, in a list shown
// below the box while there is something to offer.
#pragma once

#include "platform/win32/windows_headers.h"

#include <string>
#include <string_view>
#include <vector>

#include "core/recipient_outcome.h"
#include "platform/settings_store.h"

namespace vindrel::win32 {

// Where the recipients sent to before are kept: beside the To text, as the
// Linux window keeps them.
inline constexpr std::u16string_view kRecentKey = u"Recent";
inline constexpr std::size_t kMaxRecent = 200;

// `recent` with the names `outcomes` delivered to put in front (the first of
// them first), never "*", each name once whatever its case, at most kMaxRecent.
std::vector<std::u16string> WithRecent(const std::vector<std::u16string>& recent,
                                       const std::vector<RecipientOutcome>& outcomes);

class RecipientCompletion {
public:
    explicit RecipientCompletion(SettingsStore& settings);
    RecipientCompletion(const RecipientCompletion&) = delete;
    RecipientCompletion& operator=(const RecipientCompletion&) = delete;

    // Makes the (hidden) list for `to`, owned by `owner`, and reads the
    // recipients kept. False when the window system refuses: no completion.
    bool Create(HINSTANCE instance, HWND owner, HWND to);

    // txtTo's text changed: offers the names that start with the one typed.
    void Edited();
    // A key meant for txtTo while the list is open: Down/Up choose, Enter or
    // Tab take the name chosen, Esc closes. True when the key was taken.
    bool TakeKey(const MSG& message);
    void Close();

    // Puts the recipients a send delivered to in front of the kept ones.
    void Remember(const std::vector<RecipientOutcome>& outcomes);

private:
    static LRESULT CALLBACK ListProc(HWND list, UINT message, WPARAM wparam, LPARAM lparam);
    bool Open() const;
    void Accept(int index);

    SettingsStore& settings_;
    std::vector<std::u16string> recent_;
    HWND to_ = nullptr;
    HWND list_ = nullptr;
    WNDPROC list_proc_ = nullptr;
    bool setting_text_ = false;  // our own change of txtTo: offer nothing
};

}  // namespace vindrel::win32
