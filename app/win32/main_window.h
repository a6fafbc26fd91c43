// frmMain on Windows: the one window and its five controls, with txtTo's
// completion list. What the Send action asks of it is its adapter's
// (send_window_win32.h).
#pragma once

#include "platform/win32/windows_headers.h"

#include "app/form.h"
#include "app/win32/recipient_completion.h"
#include "app/win32/send_window_win32.h"
#include "core/send_action.h"
#include "platform/settings_store.h"

namespace vindrel::win32 {

class MainWindow {
public:
    MainWindow(HINSTANCE instance, SettingsStore& settings, Bindings bindings);
    ~MainWindow();
    MainWindow(const MainWindow&) = delete;
    MainWindow& operator=(const MainWindow&) = delete;

    // Registers the class and creates the window (its load step included).
    // False, after telling the user, when the window system refuses.
    bool Create(int show);

    // Runs the window's message loop until it is closed; the exit code.
    int RunMessageLoop();

    // What the adapter reaches: the window and its two text boxes (null
    // until created and after destruction).
    HWND Handle() const { return window_; }
    HWND txtTo() const { return txt_to_; }
    HWND txtMessage() const { return txt_message_; }

    // The hourglass over the window and its controls (true) or the default
    // pointer, shown at once.
    void SetBusy(bool busy);
    bool Busy() const { return busy_; }
    // Shows the pointer the window asks for now, not at the next mouse move.
    void RefreshCursor();

    // Translates and dispatches one message unless PreTranslate took it.
    void Deliver(MSG& message);

private:
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
    LRESULT HandleMessage(UINT message, WPARAM wparam, LPARAM lparam);

    bool OnCreate();
    void OnCommand(int id, int code);
    void OnActivate(WPARAM wparam);
    bool OnSetCursor();
    void OnNextDialogControl(WPARAM wparam, LPARAM lparam);
    void OnLoad();
    void OnSend();

    // Keys frmMain sees before its controls: Ctrl+Enter, then the dialog
    // keys (Tab, Shift+Tab, Alt+S). True when the message was consumed.
    bool PreTranslate(MSG& message);

    HWND CreateControl(const wchar_t* kind, const wchar_t* text, DWORD style, DWORD ex_style, int id,
                       const form::TwipRect& place);

    HINSTANCE instance_;
    SettingsStore& settings_;
    Win32SendWindow send_window_;
    SendAction send_action_;
    RecipientCompletion completion_;
    HWND window_ = nullptr;
    HWND txt_to_ = nullptr;
    HWND txt_message_ = nullptr;
    HWND label1_ = nullptr;
    HWND label2_ = nullptr;
    HWND cmd_send_ = nullptr;
    HWND tooltip_ = nullptr;
    HWND focus_ = nullptr;  // the control to give the focus back to on activation
    HFONT font_ = nullptr;
    int dpi_x_ = 96;
    int dpi_y_ = 96;
    bool busy_ = false;
};

}  // namespace vindrel::win32
