// The Send action's window for frmMain on Windows: its text boxes, its
// message boxes, its busy pointer over a dispatch and its message queue
// after each send.
#pragma once

#include "platform/win32/windows_headers.h"

#include "core/send_action.h"

namespace vindrel::win32 {

class MainWindow;

class Win32SendWindow : public SendWindow {
public:
    // `window` must outlive this object; its window may come and go.
    explicit Win32SendWindow(MainWindow& window) : window_(window) {}

    std::u16string ToText() override;
    std::u16string MessageText() override;
    void ShowOk(std::u16string_view text) override;
    void Started() override;
    void Finished() override;
    // Delivers the pending messages as the message loop would; a WM_QUIT
    // among them is posted again for that loop, and ends the dispatch.
    bool StillOpen() override;
    bool GoOn(const RecipientOutcome& undelivered) override;

private:
    MainWindow& window_;
};

}  // namespace vindrel::win32
