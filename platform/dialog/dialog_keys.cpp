// Keyboard navigation of dialogs: IsDialogMessageA and the tab order.
#include "dialog/controls.h"
#include "internal/nocase.h"
#include "dialog/dialog_manager.h"
#include "user/window_input.h"

using namespace kolm::platform;

namespace {

// Whether Shift is held, as seen in the key messages that pass through
// IsDialogMessageA on this thread (there is no keyboard of our own to ask).
thread_local bool t_shift_down = false;

bool is_tab_stop(HWND h)
{
    auto facts = control_facts(h);
    if (!facts)
        return false;
    const DWORD needed = WS_TABSTOP | WS_VISIBLE;
    return (facts->style & needed) == needed && !(facts->style & WS_DISABLED);
}

bool in_dialog(HWND dlg, HWND h)
{
    return window_home(h) == WindowHome::ThisProcess && is_within(hwnd_value(dlg), hwnd_value(h));
}

HWND focus_in(HWND dlg)
{
    HWND f = GetFocus();
    return f && f != dlg && in_dialog(dlg, f) ? f : nullptr;
}

void move_focus(HWND dlg, bool backwards)
{
    HWND next = GetNextDlgTabItem(dlg, focus_in(dlg), backwards ? TRUE : FALSE);
    if (next)
        SendMessageA(dlg, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(next), TRUE);
}

// Enter: a focused push button presses itself; otherwise the dialog's
// default button, unless that one is disabled.
void press_default(HWND dlg)
{
    if (HWND f = focus_in(dlg)) {
        auto facts = control_facts(f);
        const DWORD type = facts ? facts->style & BS_TYPEMASK : 0;
        if (facts && equal_nocase(facts->class_name, "BUTTON") && (type == BS_PUSHBUTTON || type == BS_DEFPUSHBUTTON)) {
            SendMessageA(dlg, WM_COMMAND, MAKEWPARAM(facts->id, BN_CLICKED), reinterpret_cast<LPARAM>(f));
            return;
        }
    }
    const WORD id = default_button_id(dlg);
    HWND button = GetDlgItem(dlg, id);
    if (button && !IsWindowEnabled(button))
        return;
    SendMessageA(dlg, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(button));
}

} // namespace

HWND GetNextDlgTabItem(HWND hDlg, HWND hCtl, BOOL bPrevious)
{
    if (window_home(hDlg) != WindowHome::ThisProcess || !IsWindow(hDlg)) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return nullptr;
    }
    const auto children = child_windows(hDlg);
    const size_t n = children.size();
    size_t from = n;
    for (size_t i = 0; i < n; ++i)
        if (children[i] == hCtl)
            from = i;
    if (from == n) { // no control to start from: the first (or last) tab stop
        for (size_t k = 0; k < n; ++k) {
            HWND c = children[bPrevious ? n - 1 - k : k];
            if (is_tab_stop(c))
                return c;
        }
        return nullptr;
    }
    for (size_t step = 1; step < n; ++step) {
        HWND c = children[bPrevious ? (from + n - step) % n : (from + step) % n];
        if (is_tab_stop(c))
            return c;
    }
    return hCtl; // the only tab stop keeps the focus
}

BOOL IsDialogMessageA(HWND hDlg, LPMSG lpMsg)
{
    if (!lpMsg)
        return FALSE;
    if ((lpMsg->message == WM_KEYDOWN || lpMsg->message == WM_KEYUP) && lpMsg->wParam == VK_SHIFT)
        t_shift_down = lpMsg->message == WM_KEYDOWN;
    if (!hDlg || !lpMsg->hwnd || window_home(hDlg) != WindowHome::ThisProcess || !in_dialog(hDlg, lpMsg->hwnd))
        return FALSE;
    if (lpMsg->message == WM_KEYDOWN) {
        const LRESULT code = SendMessageA(lpMsg->hwnd, WM_GETDLGCODE, lpMsg->wParam, reinterpret_cast<LPARAM>(lpMsg));
        if (!(code & DLGC_WANTMESSAGE)) {
            switch (lpMsg->wParam) {
            case VK_TAB:
                if (!(code & DLGC_WANTTAB)) {
                    move_focus(hDlg, t_shift_down);
                    return TRUE;
                }
                break;
            case VK_ESCAPE:
                SendMessageA(hDlg, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED),
                             reinterpret_cast<LPARAM>(GetDlgItem(hDlg, IDCANCEL)));
                return TRUE;
            case VK_RETURN:
                press_default(hDlg);
                return TRUE;
            default:
                break;
            }
        }
    }
    // Everything else is the dialog's ordinary traffic.
    TranslateMessage(lpMsg);
    DispatchMessageA(lpMsg);
    return TRUE;
}
