// Exported dialog functions: check, call the dialog manager, report in
// Win32 form.
#include "dialog/controls.h"
#include "dialog/dialog_manager.h"
#include "dialog/ui.h"
#include "user/message_pump.h"
#include "user/message_queue.h"
#include "user/window_input.h"

using namespace kolm::platform;

namespace {

// A dialog of another process answers at most this many children.
constexpr WPARAM max_remote_children = 4096;

const DialogTemplate* lookup(LPCSTR name, std::optional<DialogTemplate>& holder)
{
    holder = find_dialog_template(name);
    if (!holder) {
        SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
        return nullptr;
    }
    return &*holder;
}

std::vector<HWND> children_anywhere(HWND dlg)
{
    if (window_home(dlg) == WindowHome::ThisProcess)
        return child_windows(dlg);
    std::vector<HWND> out;
    for (WPARAM i = 0; i < max_remote_children; ++i) {
        const LRESULT h = SendMessageA(dlg, WM_KOLM_DLGCHILD, i, 0);
        if (!h)
            break;
        out.push_back(hwnd_from(static_cast<DWORD>(h)));
    }
    return out;
}

bool ended(DialogState& state)
{
    std::lock_guard lock(state.mutex);
    return state.ended;
}

// The modal loop: messages for the dialog go through IsDialogMessageA,
// the rest are dispatched as usual, until EndDialog or the dialog is gone.
void run_modal(HWND dlg, DialogState& state)
{
    bool shown = false;
    while (!ended(state) && IsWindow(dlg)) {
        if (!shown) {
            shown = true;
            ShowWindow(dlg, SW_SHOWNORMAL);
            modal_loop_started();
            continue;
        }
        MSG m;
        const BOOL r = GetMessageA(&m, nullptr, 0, 0);
        if (r == 0) {
            // WM_QUIT ends the dialog and is left for the program's loop.
            PostQuitMessage(static_cast<int>(m.wParam));
            break;
        }
        if (r < 0)
            break;
        if (!IsDialogMessageA(dlg, &m)) {
            TranslateMessage(&m);
            DispatchMessageA(&m);
        }
    }
}

} // namespace

void RegisterDialogResources(const DLGTEMPLATE_DATA* templates, int count)
{
    ensure_dialog_system();
    register_dialog_templates(templates, count);
}

HWND CreateDialogParamA(HINSTANCE hInstance, LPCSTR lpTemplateName, HWND hWndParent, DLGPROC lpDialogFunc,
                        LPARAM dwInitParam)
{
    ensure_dialog_system();
    std::optional<DialogTemplate> holder;
    const DialogTemplate* tpl = lookup(lpTemplateName, holder);
    if (!tpl)
        return nullptr;
    if (hWndParent && window_home(hWndParent) != WindowHome::ThisProcess) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return nullptr;
    }
    DialogRequest req;
    req.tpl = tpl;
    req.instance = hInstance;
    req.owner = hWndParent;
    req.proc = lpDialogFunc;
    req.param = dwInitParam;
    DWORD error = 0;
    HWND dlg = create_dialog(req, error);
    if (!dlg)
        SetLastError(error);
    return dlg;
}

INT_PTR DialogBoxParamA(HINSTANCE hInstance, LPCSTR lpTemplateName, HWND hWndParent, DLGPROC lpDialogFunc,
                        LPARAM dwInitParam)
{
    ensure_dialog_system();
    std::optional<DialogTemplate> holder;
    const DialogTemplate* tpl = lookup(lpTemplateName, holder);
    if (!tpl)
        return -1;
    if (hWndParent && window_home(hWndParent) != WindowHome::ThisProcess) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return -1;
    }
    // The owner takes no input while its modal dialog is open.
    HWND owner = hWndParent ? hwnd_from(top_level_of(hwnd_value(hWndParent))) : nullptr;
    const bool disable = owner && IsWindowEnabled(owner);
    if (disable)
        EnableWindow(owner, FALSE);

    DialogRequest req;
    req.tpl = tpl;
    req.instance = hInstance;
    req.owner = hWndParent;
    req.proc = lpDialogFunc;
    req.param = dwInitParam;
    req.modal = true;
    req.disabled_owner = disable ? owner : nullptr;
    DWORD error = 0;
    HWND dlg = create_dialog(req, error);
    if (!dlg) {
        if (disable)
            EnableWindow(owner, TRUE);
        SetLastError(error);
        return -1;
    }
    auto state = dialog_state(dlg);
    run_modal(dlg, *state);

    INT_PTR result;
    DWORD to_enable; // still set when EndDialog has not given the owner back
    {
        std::lock_guard lock(state->mutex);
        result = state->ended ? state->result : 0;
        to_enable = state->disabled_owner;
        state->disabled_owner = 0;
    }
    if (to_enable)
        EnableWindow(hwnd_from(to_enable), TRUE);
    if (IsWindow(dlg)) {
        if (GetActiveWindow() == dlg && owner)
            SetActiveWindow(owner);
        DestroyWindow(dlg);
    }
    return result;
}

BOOL EndDialog(HWND hDlg, INT_PTR nResult)
{
    if (window_home(hDlg) != WindowHome::ThisProcess) {
        SetLastError(window_home(hDlg) == WindowHome::None ? ERROR_INVALID_WINDOW_HANDLE : ERROR_ACCESS_DENIED);
        return FALSE;
    }
    auto state = dialog_state(hDlg);
    if (!state) {
        SetLastError(IsWindow(hDlg) ? ERROR_WINDOW_NOT_DIALOG : ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    DWORD owner_to_enable;
    {
        std::lock_guard lock(state->mutex);
        state->result = nResult;
        owner_to_enable = state->disabled_owner;
        state->disabled_owner = 0;
    }
    // The owner comes back first, so that it can take the activation the
    // hidden dialog gives up.
    if (owner_to_enable)
        EnableWindow(hwnd_from(owner_to_enable), TRUE);
    const bool was_active = GetActiveWindow() == hDlg;
    SetWindowPos(hDlg, nullptr, 0, 0, 0, 0,
                 SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_HIDEWINDOW);
    const HWND owner = reinterpret_cast<HWND>(static_cast<uintptr_t>(static_cast<DWORD>(GetWindowLongA(hDlg, GWL_HWNDPARENT))));
    if (was_active && !GetActiveWindow() && owner && !(GetWindowLongA(hDlg, GWL_STYLE) & WS_CHILD))
        SetActiveWindow(owner);
    // Marked ended only now: called from another thread, EndDialog has
    // just sent the dialog's thread messages, which its modal loop must
    // still be there to answer.
    {
        std::lock_guard lock(state->mutex);
        state->ended = true;
    }
    // Wakes a modal loop that waits for a message.
    PostMessageA(hDlg, WM_NULL, 0, 0);
    return TRUE;
}

HWND GetDlgItem(HWND hDlg, int nIDDlgItem)
{
    const WORD id = static_cast<WORD>(nIDDlgItem);
    switch (window_home(hDlg)) {
    case WindowHome::None:
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return nullptr;
    case WindowHome::OtherProcess: {
        // The dialog answers for its own controls in its own process.
        const LRESULT h = SendMessageA(hDlg, WM_KOLM_DLGITEM, id, 0);
        if (!h)
            SetLastError(IsWindow(hDlg) ? ERROR_CONTROL_ID_NOT_FOUND : ERROR_INVALID_WINDOW_HANDLE);
        return hwnd_from(static_cast<DWORD>(h));
    }
    case WindowHome::ThisProcess:
        break;
    }
    if (!IsWindow(hDlg)) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return nullptr;
    }
    for (HWND c : child_windows(hDlg)) {
        auto facts = control_facts(c);
        if (facts && facts->id == id)
            return c;
    }
    SetLastError(ERROR_CONTROL_ID_NOT_FOUND);
    return nullptr;
}

BOOL SetDlgItemTextA(HWND hDlg, int nIDDlgItem, LPCSTR lpString)
{
    HWND item = GetDlgItem(hDlg, nIDDlgItem);
    return item ? SetWindowTextA(item, lpString) : FALSE;
}

UINT GetDlgItemTextA(HWND hDlg, int nIDDlgItem, LPSTR lpString, int cchMax)
{
    if (lpString && cchMax > 0)
        lpString[0] = '\0';
    HWND item = GetDlgItem(hDlg, nIDDlgItem);
    if (!item)
        return 0;
    const int n = GetWindowTextA(item, lpString, cchMax);
    return n > 0 ? static_cast<UINT>(n) : 0;
}

LRESULT SendDlgItemMessageA(HWND hDlg, int nIDDlgItem, UINT Msg, WPARAM wParam, LPARAM lParam)
{
    HWND item = GetDlgItem(hDlg, nIDDlgItem);
    return item ? SendMessageA(item, Msg, wParam, lParam) : 0;
}

BOOL CheckRadioButton(HWND hDlg, int nIDFirstButton, int nIDLastButton, int nIDCheckButton)
{
    if (!IsWindow(hDlg)) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    for (HWND c : children_anywhere(hDlg)) {
        const int id = static_cast<WORD>(GetDlgCtrlID(c));
        if (id >= nIDFirstButton && id <= nIDLastButton)
            SendMessageA(c, BM_SETCHECK, id == nIDCheckButton ? BST_CHECKED : BST_UNCHECKED, 0);
    }
    return TRUE;
}

BOOL CheckDlgButton(HWND hDlg, int nIDButton, UINT uCheck)
{
    HWND item = GetDlgItem(hDlg, nIDButton);
    if (!item)
        return FALSE;
    SendMessageA(item, BM_SETCHECK, uCheck, 0);
    return TRUE;
}

UINT IsDlgButtonChecked(HWND hDlg, int nIDButton)
{
    HWND item = GetDlgItem(hDlg, nIDButton);
    return item ? static_cast<UINT>(SendMessageA(item, BM_GETCHECK, 0, 0)) : 0;
}
