// frmMain on Windows.
#include "app/win32/main_window.h"

#include <commctrl.h>

#include <utility>

#include "app/form.h"
#include "platform/win32/wide.h"
#include "resource_ids.h"

namespace vindrel::win32 {
namespace {

constexpr wchar_t kClassName[] = L"VindrelMain";
const wchar_t* const kTitle = Wide(form::kTitle);

// Not IDOK or IDCANCEL: the dialog keys send those for Enter and Esc, and
// neither may press cmdSend.
enum ControlId : int { kIdTxtTo = 101, kIdTxtMessage, kIdLabel1, kIdLabel2, kIdCmdSend };

constexpr DWORD kFrameStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;

}  // namespace

MainWindow::MainWindow(HINSTANCE instance, SettingsStore& settings, Bindings bindings)
    : instance_(instance), settings_(settings), send_window_(*this),
      send_action_(send_window_, settings, std::move(bindings)), completion_(settings)
{
}

MainWindow::~MainWindow()
{
    if (window_ != nullptr) DestroyWindow(window_);
}

bool MainWindow::Create(int show)
{
    INITCOMMONCONTROLSEX common{sizeof(common), ICC_WIN95_CLASSES};
    InitCommonControlsEx(&common);

    WNDCLASSEXW window_class{};
    window_class.cbSize = sizeof(window_class);
    window_class.lpfnWndProc = &MainWindow::WindowProc;
    window_class.hInstance = instance_;
    window_class.hIcon = static_cast<HICON>(LoadImageW(instance_, MAKEINTRESOURCEW(IDI_VINDREL), IMAGE_ICON,
                                                       GetSystemMetrics(SM_CXICON),
                                                       GetSystemMetrics(SM_CYICON), LR_SHARED));
    window_class.hIconSm = static_cast<HICON>(LoadImageW(instance_, MAKEINTRESOURCEW(IDI_VINDREL),
                                                         IMAGE_ICON, GetSystemMetrics(SM_CXSMICON),
                                                         GetSystemMetrics(SM_CYSMICON), LR_SHARED));
    window_class.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));  // IDC_ARROW
    window_class.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    window_class.lpszClassName = kClassName;
    if (RegisterClassExW(&window_class) == 0) {
        MessageBoxW(nullptr, L"The window class could not be registered.", kTitle, MB_OK);
        return false;
    }

    const HDC screen = GetDC(nullptr);
    if (screen != nullptr) {
        dpi_x_ = GetDeviceCaps(screen, LOGPIXELSX);
        dpi_y_ = GetDeviceCaps(screen, LOGPIXELSY);
        ReleaseDC(nullptr, screen);
    }
    const form::PixelRect client = form::ToPixels(form::kClient, dpi_x_, dpi_y_);
    RECT frame{0, 0, client.width, client.height};
    AdjustWindowRectEx(&frame, kFrameStyle, FALSE, 0);

    if (CreateWindowExW(0, kClassName, kTitle, kFrameStyle, CW_USEDEFAULT, CW_USEDEFAULT,
                        frame.right - frame.left, frame.bottom - frame.top, nullptr, nullptr, instance_,
                        this) == nullptr) {
        MessageBoxW(nullptr, L"The window could not be created.", kTitle, MB_OK);
        return false;
    }
    ShowWindow(window_, show);
    UpdateWindow(window_);
    return true;
}

int MainWindow::RunMessageLoop()
{
    MSG message;
    BOOL got;
    while ((got = GetMessageW(&message, nullptr, 0, 0)) > 0) Deliver(message);
    return got == 0 ? static_cast<int>(message.wParam) : 1;
}

void MainWindow::Deliver(MSG& message)
{
    if (PreTranslate(message)) return;
    TranslateMessage(&message);
    DispatchMessageW(&message);
}

bool MainWindow::PreTranslate(MSG& message)
{
    if (window_ == nullptr) return false;
    if (message.hwnd != window_ && !IsChild(window_, message.hwnd)) return false;
    if (completion_.TakeKey(message)) return true;
    if (message.message == WM_KEYDOWN && message.wParam == VK_RETURN && GetKeyState(VK_CONTROL) < 0 &&
        GetKeyState(VK_MENU) >= 0) {
        // A held key repeats; one press is one send.
        const bool repeat = (message.lParam & (1L << 30)) != 0;
        if (!repeat) OnSend();
        return true;
    }
    // frmMain has no cancel button, so Esc does nothing. Left to the dialog
    // manager, it would reach the multi-line box in dialog mode, which answers
    // it by closing its parent, typed text and running dispatch with it.
    if (message.message == WM_KEYDOWN && message.wParam == VK_ESCAPE) return true;
    return IsDialogMessageW(window_, &message) != FALSE;
}

LRESULT CALLBACK MainWindow::WindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam)
{
    MainWindow* self = nullptr;
    if (message == WM_NCCREATE) {
        self = static_cast<MainWindow*>(reinterpret_cast<CREATESTRUCTW*>(lparam)->lpCreateParams);
        self->window_ = window;
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    } else {
        self = reinterpret_cast<MainWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    }
    if (self == nullptr) return DefWindowProcW(window, message, wparam, lparam);
    if (message == WM_NCDESTROY) {
        SetWindowLongPtrW(window, GWLP_USERDATA, 0);
        self->window_ = nullptr;
        return DefWindowProcW(window, message, wparam, lparam);
    }
    return self->HandleMessage(message, wparam, lparam);
}

LRESULT MainWindow::HandleMessage(UINT message, WPARAM wparam, LPARAM lparam)
{
    switch (message) {
    case WM_CREATE:
        if (!OnCreate()) return -1;
        OnLoad();
        return 0;
    case WM_COMMAND:
        OnCommand(LOWORD(wparam), HIWORD(wparam));
        return 0;
    case WM_ACTIVATE:
        OnActivate(wparam);
        return 0;
    case WM_MOVE:
        // The list hangs below txtTo where it was.
        completion_.Close();
        break;
    case WM_SETCURSOR:
        if (OnSetCursor()) return TRUE;
        break;
    case WM_NEXTDLGCTL:
        OnNextDialogControl(wparam, lparam);
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    default:
        break;
    }
    return DefWindowProcW(window_, message, wparam, lparam);
}

bool MainWindow::OnCreate()
{
    // Created in tab order; the labels take no focus.
    txt_to_ = CreateControl(L"EDIT", L"", WS_TABSTOP | ES_AUTOHSCROLL, WS_EX_CLIENTEDGE, kIdTxtTo,
                            form::kTxtTo);
    txt_message_ = CreateControl(L"EDIT", L"",
                                 WS_TABSTOP | ES_MULTILINE | ES_AUTOVSCROLL | ES_AUTOHSCROLL |
                                     ES_WANTRETURN | WS_VSCROLL | WS_HSCROLL,
                                 WS_EX_CLIENTEDGE, kIdTxtMessage, form::kTxtMessage);
    label1_ = CreateControl(L"STATIC", Wide(form::kLabel1Caption), SS_LEFT, 0, kIdLabel1,
                            form::kLabel1);
    label2_ = CreateControl(L"STATIC", Wide(form::kLabel2Caption), SS_LEFT, 0, kIdLabel2,
                            form::kLabel2);
    cmd_send_ = CreateControl(L"BUTTON", Wide(form::kSendCaption), WS_TABSTOP | BS_PUSHBUTTON, 0,
                              kIdCmdSend, form::kCmdSend);
    if (!txt_to_ || !txt_message_ || !label1_ || !label2_ || !cmd_send_) return false;
    focus_ = txt_to_;
    // Completion is a nicety too.
    completion_.Create(instance_, window_, txt_to_);

    // The tooltip is a nicety: without it the window still works.
    tooltip_ = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP,
                               CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, window_,
                               nullptr, instance_, nullptr);
    if (tooltip_ != nullptr) {
        TTTOOLINFOW tool{};
        // The size older common controls accept as well.
        tool.cbSize = TTTOOLINFOW_V2_SIZE;
        tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
        tool.hwnd = window_;
        tool.uId = reinterpret_cast<UINT_PTR>(txt_to_);
        tool.lpszText = const_cast<wchar_t*>(Wide(form::kToTooltip));
        SendMessageW(tooltip_, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
    }
    return true;
}

HWND MainWindow::CreateControl(const wchar_t* kind, const wchar_t* text, DWORD style, DWORD ex_style,
                               int id, const form::TwipRect& place)
{
    const form::PixelRect r = form::ToPixels(place, dpi_x_, dpi_y_);
    const HWND control = CreateWindowExW(
        ex_style, kind, text, WS_CHILD | WS_VISIBLE | style, r.left, r.top, r.width, r.height, window_,
        reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance_, nullptr);
    if (control != nullptr)
        SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(GetStockObject(DEFAULT_GUI_FONT)),
                     FALSE);
    return control;
}

void MainWindow::OnLoad()
{
    const std::u16string to_text =
        settings_.Read(kSettingsApplication, kSettingsSection, kSettingsKey, form::kToHint);
    SetWindowTextW(txt_to_, Wide(to_text).c_str());
}

void MainWindow::OnCommand(int id, int code)
{
    // Anything else, IDCANCEL from the dialog keys among it, is ignored:
    // the window closes through its frame only.
    if (id == kIdCmdSend && code == BN_CLICKED) OnSend();
    if (id == kIdTxtTo && code == EN_CHANGE) completion_.Edited();
    if (id == kIdTxtTo && code == EN_KILLFOCUS) completion_.Close();
}

void MainWindow::OnSend()
{
    completion_.Close();
    completion_.Remember(send_action_.Run());
}

void MainWindow::OnActivate(WPARAM wparam)
{
    // The focus goes back to the control that had it, as in a dialog.
    if (LOWORD(wparam) == WA_INACTIVE) {
        const HWND focus = GetFocus();
        if (focus != nullptr && IsChild(window_, focus)) focus_ = focus;
    } else if (HIWORD(wparam) == 0 && focus_ != nullptr) {
        SetFocus(focus_);
    }
}

bool MainWindow::OnSetCursor()
{
    // Controls ask their parent first, so this covers them too.
    if (!busy_) return false;
    SetCursor(LoadCursorW(nullptr, MAKEINTRESOURCEW(32514)));  // IDC_WAIT
    return true;
}

void MainWindow::OnNextDialogControl(WPARAM wparam, LPARAM lparam)
{
    // The multi-line box asks for this when Tab is pressed in it; a plain
    // window does not handle it by default.
    const HWND next = LOWORD(lparam) != 0 ? reinterpret_cast<HWND>(wparam)
                                          : GetNextDlgTabItem(window_, GetFocus(), wparam != 0);
    if (next == nullptr) return;
    if (SendMessageW(next, WM_GETDLGCODE, 0, 0) & DLGC_HASSETSEL) SendMessageW(next, EM_SETSEL, 0, -1);
    SetFocus(next);
}

void MainWindow::SetBusy(bool busy)
{
    busy_ = busy;
    RefreshCursor();
}

void MainWindow::RefreshCursor()
{
    // The pointer changes at once, not at the next mouse move: ask the window
    // under it to choose its cursor again.
    if (window_ == nullptr) return;
    POINT point;
    if (!GetCursorPos(&point)) return;
    const HWND under = WindowFromPoint(point);
    if (under == nullptr || (under != window_ && !IsChild(window_, under))) return;
    const LPARAM where = MAKELPARAM(static_cast<WORD>(point.x), static_cast<WORD>(point.y));
    const LRESULT hit = SendMessageW(under, WM_NCHITTEST, 0, where);
    SendMessageW(under, WM_SETCURSOR, reinterpret_cast<WPARAM>(under),
                 MAKELPARAM(static_cast<WORD>(hit), WM_MOUSEMOVE));
}

}  // namespace vindrel::win32
