// frmMain on Windows: the one window, its five controls, and the window
// system's side of the seams the Send action uses.
#pragma once

#include "platform/win32/windows_headers.h"

#include "app/form.h"
#include "core/send_action.h"
#include "platform/settings_store.h"
#include "core/ui_services.h"

namespace vindrel::win32 {

class MainWindow : public UiServices {
public:
    MainWindow(HINSTANCE instance, SettingsStore& settings, Bindings bindings);
    ~MainWindow() override;
    MainWindow(const MainWindow&) = delete;
    MainWindow& operator=(const MainWindow&) = delete;

    // Registers the class and creates the window (its load step included).
    // False, after telling the user, when the window system refuses.
    bool Create(int show);

    // Runs the window's message loop until it is closed; the exit code.
    int RunMessageLoop();

    // UiServices
    std::u16string ToText() override;
    std::u16string MessageText() override;
    void ShowOk(std::u16string_view text) override;
    bool AskToContinue(const RecipientOutcome& undelivered) override;
    void SetBusyCursor(bool busy) override;
    bool PumpEvents() override;

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
    // Translates and dispatches one message unless PreTranslate took it.
    void Deliver(MSG& message);

    HWND CreateControl(const wchar_t* kind, const wchar_t* text, DWORD style, DWORD ex_style, int id,
                       const form::TwipRect& place);
    std::u16string ControlText(HWND control) const;
    void RefreshCursor();

    HINSTANCE instance_;
    SettingsStore& settings_;
    SendAction send_action_;
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
