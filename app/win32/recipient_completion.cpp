// txtTo's completion list.
#include "app/win32/recipient_completion.h"

#include <algorithm>
#include <utility>

#include "core/send_action.h"
#include "platform/win32/wide.h"

namespace vindrel::win32 {
namespace {

// Rows shown at most; the rest scroll.
constexpr int kShownRows = 8;

bool SameIgnoringCase(std::u16string_view a, std::u16string_view b)
{
    return CompareStringW(LOCALE_USER_DEFAULT, NORM_IGNORECASE, Wide(a).c_str(), static_cast<int>(a.size()),
                          Wide(b).c_str(), static_cast<int>(b.size())) == CSTR_EQUAL;
}

bool StartsWith(std::u16string_view name, std::u16string_view typed)
{
    return name.size() >= typed.size() && SameIgnoringCase(name.substr(0, typed.size()), typed);
}

std::vector<std::u16string> Split(std::u16string_view text)
{
    std::vector<std::u16string> names;
    for (std::size_t at = 0; at <= text.size();) {
        const std::size_t end = std::min(text.find(u';', at), text.size());
        if (end > at) names.emplace_back(text.substr(at, end - at));
        at = end + 1;
    }
    return names;
}

std::u16string Joined(const std::vector<std::u16string>& names)
{
    std::u16string text;
    for (const std::u16string& name : names) {
        if (!text.empty()) text += u';';
        text += name;
    }
    return text;
}

// The name being typed: after the last ";", without the spaces around it.
std::u16string_view TypedName(std::u16string_view text)
{
    text.remove_prefix(text.rfind(u';') + 1);  // npos + 1: all of it
    const std::size_t first = text.find_first_not_of(u" \t");
    if (first == std::u16string_view::npos) return {};
    return text.substr(first, text.find_last_not_of(u" \t") - first + 1);
}

std::u16string WindowText(HWND window)
{
    std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(window)) + 1, L'\0');
    text.resize(static_cast<std::size_t>(GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
    return Utf16(text);
}

}  // namespace

std::vector<std::u16string> WithRecent(const std::vector<std::u16string>& recent,
                                       const std::vector<RecipientOutcome>& outcomes)
{
    std::vector<std::u16string> sent;
    for (const RecipientOutcome& outcome : outcomes)
        if (outcome.Delivered() && outcome.name != u"*") sent.push_back(outcome.name);
    std::vector<std::u16string> out;
    for (const auto* list : {&std::as_const(sent), &recent})
        for (const std::u16string& name : *list)
            if (out.size() < kMaxRecent && !name.empty() &&
                std::none_of(out.begin(), out.end(),
                             [&](const std::u16string& kept) { return SameIgnoringCase(kept, name); }))
                out.push_back(name);
    return out;
}

RecipientCompletion::RecipientCompletion(SettingsStore& settings) : settings_(settings) {}

bool RecipientCompletion::Create(HINSTANCE instance, HWND owner, HWND to)
{
    to_ = to;
    // A popup of its own, so that it may hang below the window's edge; it
    // never takes the activation, so txtTo keeps the focus while it is open.
    list_ = CreateWindowExW(WS_EX_TOOLWINDOW | WS_EX_NOACTIVATE, L"LISTBOX", nullptr,
                            WS_POPUP | WS_BORDER | WS_VSCROLL | LBS_NOINTEGRALHEIGHT, 0, 0, 0, 0, owner,
                            nullptr, instance, nullptr);
    if (list_ == nullptr) return false;
    SendMessageW(list_, WM_SETFONT, reinterpret_cast<WPARAM>(GetStockObject(DEFAULT_GUI_FONT)), FALSE);
    SetWindowLongPtrW(list_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    list_proc_ = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(list_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&RecipientCompletion::ListProc)));
    recent_ = Split(settings_.Read(kSettingsApplication, kSettingsSection, kRecentKey, u""));
    return true;
}

LRESULT CALLBACK RecipientCompletion::ListProc(HWND list, UINT message, WPARAM wparam, LPARAM lparam)
{
    auto* self = reinterpret_cast<RecipientCompletion*>(GetWindowLongPtrW(list, GWLP_USERDATA));
    const WNDPROC base = self->list_proc_;
    switch (message) {
    case WM_MOUSEACTIVATE:
        return MA_NOACTIVATE;
    case WM_LBUTTONDOWN: {
        // Taken on the press, so the list never holds the mouse.
        const LRESULT hit = SendMessageW(list, LB_ITEMFROMPOINT, 0, lparam);
        if (HIWORD(hit) == 0) self->Accept(LOWORD(hit));
        return 0;
    }
    case WM_NCDESTROY:
        self->list_ = nullptr;
        break;
    default:
        break;
    }
    return CallWindowProcW(base, list, message, wparam, lparam);
}

bool RecipientCompletion::Open() const
{
    return list_ != nullptr && IsWindowVisible(list_);
}

void RecipientCompletion::Close()
{
    if (Open()) ShowWindow(list_, SW_HIDE);
}

void RecipientCompletion::Edited()
{
    if (list_ == nullptr || setting_text_) return;
    // The text set at load, or by anyone but the user, offers nothing.
    if (GetFocus() != to_) return Close();
    const std::u16string text = WindowText(to_);
    const std::u16string_view typed = TypedName(text);
    if (typed.empty()) return Close();

    SendMessageW(list_, WM_SETREDRAW, FALSE, 0);
    SendMessageW(list_, LB_RESETCONTENT, 0, 0);
    int rows = 0;
    for (const std::u16string& name : recent_)
        if (StartsWith(name, typed)) {
            SendMessageW(list_, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(Wide(name).c_str()));
            ++rows;
        }
    SendMessageW(list_, WM_SETREDRAW, TRUE, 0);
    // Nothing chosen until Down or Up: a name typed in full is sent as typed.
    if (rows == 0) return Close();

    RECT box;
    GetWindowRect(to_, &box);
    const int row_height = static_cast<int>(SendMessageW(list_, LB_GETITEMHEIGHT, 0, 0));
    const int height = std::min(rows, kShownRows) * row_height + 2 * GetSystemMetrics(SM_CYBORDER);
    SetWindowPos(list_, HWND_TOP, box.left, box.bottom, box.right - box.left, height,
                 SWP_NOACTIVATE | SWP_SHOWWINDOW);
    InvalidateRect(list_, nullptr, TRUE);
}

bool RecipientCompletion::TakeKey(const MSG& message)
{
    if (!Open() || message.message != WM_KEYDOWN || message.hwnd != to_) return false;
    const int current = static_cast<int>(SendMessageW(list_, LB_GETCURSEL, 0, 0));
    const int rows = static_cast<int>(SendMessageW(list_, LB_GETCOUNT, 0, 0));
    switch (message.wParam) {
    case VK_DOWN:
    case VK_UP: {
        const int step = message.wParam == VK_DOWN ? 1 : -1;
        SendMessageW(list_, LB_SETCURSEL, std::clamp(current + step, 0, rows - 1), 0);
        return true;
    }
    case VK_RETURN:
        // Ctrl+Enter still sends.
        if (GetKeyState(VK_CONTROL) < 0) return false;
        Accept(current);
        return true;
    case VK_TAB:
        // With nothing chosen, Tab and Shift+Tab still move on.
        if (current < 0 || GetKeyState(VK_SHIFT) < 0) {
            Close();
            return false;
        }
        Accept(current);
        return true;
    case VK_ESCAPE:
        Close();
        return true;
    default:
        return false;
    }
}

void RecipientCompletion::Accept(int index)
{
    const int length = index < 0 ? LB_ERR : static_cast<int>(SendMessageW(list_, LB_GETTEXTLEN, index, 0));
    if (length == LB_ERR) return Close();
    std::wstring name(static_cast<std::size_t>(length) + 1, L'\0');
    name.resize(static_cast<std::size_t>(SendMessageW(list_, LB_GETTEXT, index, reinterpret_cast<LPARAM>(name.data()))));

    // Replaces the name being typed; the spaces typed after the ";" stay.
    std::u16string text = WindowText(to_);
    std::size_t at = text.rfind(u';') + 1;
    while (at < text.size() && text[at] == u' ') ++at;
    text = text.substr(0, at) + Utf16(name);
    setting_text_ = true;
    SetWindowTextW(to_, Wide(text).c_str());
    setting_text_ = false;
    SendMessageW(to_, EM_SETSEL, text.size(), text.size());
    Close();
}

void RecipientCompletion::Remember(const std::vector<RecipientOutcome>& outcomes)
{
    if (std::none_of(outcomes.begin(), outcomes.end(), [](const RecipientOutcome& outcome) {
            return outcome.Delivered() && outcome.name != u"*";
        }))
        return;
    // From the store: another window may have sent since this one read it.
    recent_ = WithRecent(Split(settings_.Read(kSettingsApplication, kSettingsSection, kRecentKey, u"")), outcomes);
    // Completion only: a list not kept costs nothing but its suggestions.
    settings_.Write(kSettingsApplication, kSettingsSection, kRecentKey, Joined(recent_));
}

}  // namespace vindrel::win32
