// The Send action's window for frmMain on Windows.
#include "app/win32/send_window_win32.h"

#include <string>

#include "app/form.h"
#include "app/win32/main_window.h"
#include "core/prompt_texts.h"
#include "platform/win32/wide.h"

namespace vindrel::win32 {
namespace {

std::u16string ControlText(HWND control)
{
    if (control == nullptr || !IsWindow(control)) return {};
    const int length = GetWindowTextLengthW(control);
    if (length <= 0) return {};
    std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
    const int copied = GetWindowTextW(control, text.data(), length + 1);
    text.resize(copied > 0 ? static_cast<std::size_t>(copied) : 0);
    return Utf16(text);
}

}  // namespace

std::u16string Win32SendWindow::ToText()
{
    return ControlText(window_.txtTo());
}

std::u16string Win32SendWindow::MessageText()
{
    return ControlText(window_.txtMessage());
}

void Win32SendWindow::ShowOk(std::u16string_view text)
{
    MessageBoxW(window_.Handle(), Wide(text).c_str(), Wide(form::kTitle), MB_OK);
}

bool Win32SendWindow::GoOn(const RecipientOutcome& undelivered)
{
    const bool yes = MessageBoxW(window_.Handle(), Wide(ContinuePrompt(undelivered)).c_str(),
                                 Wide(form::kTitle), MB_YESNO | MB_DEFBUTTON1) == IDYES;
    // The box had its own pointer; the rest of the dispatch is busy again.
    if (window_.Busy()) window_.RefreshCursor();
    return yes;
}

void Win32SendWindow::Started()
{
    window_.SetBusy(true);
}

void Win32SendWindow::Finished()
{
    window_.SetBusy(false);
}

bool Win32SendWindow::StillOpen()
{
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) {
            // The main loop must still see it and end the program.
            PostQuitMessage(static_cast<int>(message.wParam));
            return false;
        }
        window_.Deliver(message);
    }
    return window_.Handle() != nullptr && IsWindow(window_.Handle());
}

}  // namespace vindrel::win32
