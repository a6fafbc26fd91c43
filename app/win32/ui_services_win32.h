// The core's window seams for frmMain on Windows: its text boxes, its
// message boxes, its busy pointer and its message queue.
#pragma once

#include "platform/win32/windows_headers.h"

#include "core/ui_services.h"

namespace vindrel::win32 {

class MainWindow;

class Win32UiServices : public UiServices {
public:
    // `window` must outlive this object; its window may come and go.
    explicit Win32UiServices(MainWindow& window) : window_(window) {}

    std::u16string ToText() override;
    std::u16string MessageText() override;
    void ShowOk(std::u16string_view text) override;
    bool AskToContinue(const RecipientOutcome& undelivered) override;
    void SetBusyCursor(bool busy) override;
    // Delivers the pending messages as the message loop would; a WM_QUIT
    // among them is posted again for that loop, and ends the dispatch.
    bool PumpEvents() override;

private:
    MainWindow& window_;
};

}  // namespace vindrel::win32
