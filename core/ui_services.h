// What the core needs from the window that runs a send: the To text and the
// message as typed, its message boxes, its mouse pointer and its event queue.
// Each toolkit's app/ folder implements it for its own windows.
#pragma once

#include <string>
#include <string_view>

#include "core/recipient_outcome.h"

namespace vindrel {

class UiServices {
public:
    virtual ~UiServices() = default;

    // The recipients as typed, one text with ";" between names.
    virtual std::u16string ToText() = 0;
    // The message as typed, line breaks as CR LF.
    virtual std::u16string MessageText() = 0;

    // Modal box over the window, titled with the application title, no icon,
    // one OK button. Returns when the user closes it.
    virtual void ShowOk(std::u16string_view text) = 0;

    // After a recipient the message did not reach: a modal box as above
    // with ContinuePrompt(`undelivered`)'s words (prompt_texts.h), Yes
    // and No, Yes the default button. True for Yes: go on with the rest.
    virtual bool AskToContinue(const RecipientOutcome& undelivered) = 0;

    // The hourglass over the window and its controls (true) or the default
    // pointer (false).
    virtual void SetBusyCursor(bool busy) = 0;

    // Processes pending window events and returns. False once the window
    // has been closed, so that a running dispatch can stop.
    virtual bool PumpEvents() = 0;
};

}  // namespace vindrel
