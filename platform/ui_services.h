// What the core needs from the window system: the two text boxes of frmMain,
// its message boxes, its mouse pointer and its event queue.
#pragma once

#include <string>
#include <string_view>

namespace vindrel {

class UiServices {
public:
    virtual ~UiServices() = default;

    // Current text of txtTo.
    virtual std::u16string ToText() = 0;
    // Current text of txtMessage.
    virtual std::u16string MessageText() = 0;

    // Modal box over frmMain, titled with the application title, no icon,
    // one OK button. Returns when the user closes it.
    virtual void ShowOk(std::u16string_view text) = 0;

    // Modal box as above with Yes and No, Yes the default button.
    // True for Yes.
    virtual bool AskYesNo(std::u16string_view text) = 0;

    // The hourglass over frmMain and its controls (true) or the default
    // pointer (false).
    virtual void SetBusyCursor(bool busy) = 0;

    // Processes pending window events and returns. False once frmMain has
    // been closed, so that a running dispatch can stop.
    virtual bool PumpEvents() = 0;
};

}  // namespace vindrel
