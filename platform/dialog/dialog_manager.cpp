#include "dialog/dialog_manager.h"
#include "internal/nocase.h"

#include "dialog/controls.h"
#include "dialog/dialog_units.h"
#include "user/window_geometry.h"
#include "user/window_input.h"
#include "user/window_lifecycle.h"

#include <cstring>

namespace kolm::platform {

namespace {

// Messages whose DLGPROC result is the answer itself rather than a "was
// handled" flag with the answer in DWL_MSGRESULT.
bool answers_directly(UINT msg)
{
    switch (msg) {
    case WM_INITDIALOG:
    case WM_CTLCOLORMSGBOX:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORSTATIC:
    case WM_COMPAREITEM:
    case WM_VKEYTOITEM:
    case WM_CHARTOITEM:
        return true;
    default:
        return false;
    }
}

// DWL_MSGRESULT, read without touching the caller's last error (the
// procedure may have destroyed the dialog).
LRESULT msg_result(HWND h)
{
    std::lock_guard lock(window_lock());
    Window* w = find_window_locked(hwnd_value(h));
    if (!w || w->extra.size() < DWL_MSGRESULT + sizeof(LONG))
        return 0;
    LONG v;
    std::memcpy(&v, w->extra.data() + DWL_MSGRESULT, sizeof v);
    return v;
}

void clear_msg_result(HWND h)
{
    std::lock_guard lock(window_lock());
    if (Window* w = find_window_locked(hwnd_value(h)); w && w->extra.size() >= DWL_MSGRESULT + sizeof(LONG))
        std::memset(w->extra.data() + DWL_MSGRESULT, 0, sizeof(LONG));
}

HWND child_with_id(HWND dlg, WORD id)
{
    for (HWND c : child_windows(dlg)) {
        auto facts = control_facts(c);
        if (facts && facts->id == id)
            return c;
    }
    return nullptr;
}

HWND default_push_button(HWND dlg)
{
    for (HWND c : child_windows(dlg)) {
        auto facts = control_facts(c);
        if (facts && equal_nocase(facts->class_name, "BUTTON") && (facts->style & BS_TYPEMASK) == BS_DEFPUSHBUTTON)
            return c;
    }
    return nullptr;
}

bool wants_selection(HWND control)
{
    return (SendMessageA(control, WM_GETDLGCODE, 0, 0) & DLGC_HASSETSEL) != 0;
}

void focus_control(HWND control)
{
    SetFocus(control);
    if (wants_selection(control))
        SendMessageA(control, EM_SETSEL, 0, -1);
}

LRESULT default_dialog_proc(HWND h, UINT msg, WPARAM wparam, LPARAM lparam, DialogState* state)
{
    switch (msg) {
    case WM_CLOSE: {
        // Closing a dialog is its Cancel button, unless that is disabled.
        HWND cancel = child_with_id(h, IDCANCEL);
        if (!cancel || IsWindowEnabled(cancel))
            PostMessageA(h, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), reinterpret_cast<LPARAM>(cancel));
        return 0;
    }
    case WM_ACTIVATE:
        if (LOWORD(wparam) == WA_INACTIVE) {
            const DWORD focus = focus_window_of_thread();
            if (state && focus != hwnd_value(h) && is_within(hwnd_value(h), focus)) {
                std::lock_guard lock(state->mutex);
                state->saved_focus = focus;
            }
        } else {
            restore_dialog_focus(h);
        }
        return 0;
    case WM_SETFOCUS:
        restore_dialog_focus(h);
        return 0;
    case WM_NEXTDLGCTL: {
        HWND target;
        if (LOWORD(lparam))
            target = reinterpret_cast<HWND>(wparam);
        else
            target = GetNextDlgTabItem(h, GetFocus(), wparam != 0);
        if (target && is_within(hwnd_value(h), hwnd_value(target)))
            focus_control(target);
        return 0;
    }
    case DM_GETDEFID: {
        WORD id = 0;
        if (state) {
            std::lock_guard lock(state->mutex);
            id = state->default_id;
        }
        if (!id)
            if (HWND def = default_push_button(h))
                id = static_cast<WORD>(GetDlgCtrlID(def));
        return id ? MAKELONG(id, DC_HASDEFID) : 0;
    }
    case DM_SETDEFID:
        if (state) {
            std::lock_guard lock(state->mutex);
            state->default_id = static_cast<WORD>(wparam);
        }
        return TRUE;
    case WM_KOLM_DLGITEM:
        return static_cast<LRESULT>(HandleToDword(child_with_id(h, static_cast<WORD>(wparam))));
    case WM_KOLM_DLGCHILD: {
        const auto children = child_windows(h);
        return wparam < children.size() ? static_cast<LRESULT>(HandleToDword(children[wparam])) : 0;
    }
    case WM_ERASEBKGND:
        return TRUE;
    default:
        return DefWindowProcA(h, msg, wparam, lparam);
    }
}

// Where the dialog's client area starts: the template's position is
// relative to the owner's client area (the screen with DS_ABSALIGN or
// without an owner), and DS_CENTER centres the window on its owner (or
// on the screen).
POINT dialog_origin(const DialogRequest& req, DWORD style, const RECT& client, const RECT& frame, int width, int height)
{
    POINT p { client.left, client.top };
    const DWORD owner = req.owner ? top_level_of(hwnd_value(req.owner)) : 0;
    if (style & DS_CENTER) {
        RECT area { 0, 0, screen_width, screen_height };
        if (owner)
            if (auto r = window_screen_rect(owner))
                area = *r;
        return POINT { area.left + (area.right - area.left - width) / 2 + frame.left,
                       area.top + (area.bottom - area.top - height) / 2 + frame.top };
    }
    if ((style & WS_CHILD) || (style & DS_ABSALIGN) || !req.owner)
        return p;
    std::optional<RECT> r;
    DWORD owner_style = 0, owner_ex = 0;
    if (auto info = local_window_info(hwnd_value(req.owner))) {
        r = window_screen_rect(info->handle);
        owner_style = info->style;
        owner_ex = info->ex_style;
    }
    if (r) {
        const RECT in = frame_insets(owner_style, owner_ex);
        p.x += r->left + in.left;
        p.y += r->top + in.top;
    }
    return p;
}

} // namespace

std::shared_ptr<DialogState> dialog_state(HWND h)
{
    return state_of<DialogState>(h);
}

WORD default_button_id(HWND dlg)
{
    const LRESULT def = SendMessageA(dlg, DM_GETDEFID, 0, 0);
    return HIWORD(def) == DC_HASDEFID ? LOWORD(def) : static_cast<WORD>(IDOK);
}

void restore_dialog_focus(HWND dlg)
{
    auto state = dialog_state(dlg);
    HWND target = nullptr;
    if (state) {
        std::lock_guard lock(state->mutex);
        target = hwnd_from(state->saved_focus);
    }
    if (!target || !is_within(hwnd_value(dlg), hwnd_value(target)) || target == dlg || !IsWindowEnabled(target))
        target = GetNextDlgTabItem(dlg, nullptr, FALSE);
    if (target && GetFocus() != target)
        focus_control(target);
}

LRESULT CALLBACK dialog_window_proc(HWND h, UINT msg, WPARAM wparam, LPARAM lparam)
{
    auto state = dialog_state(h);
    if (!state || !state->proc || msg == WM_KOLM_DLGITEM || msg == WM_KOLM_DLGCHILD)
        return default_dialog_proc(h, msg, wparam, lparam, state.get());
    clear_msg_result(h);
    const INT_PTR handled = state->proc(h, msg, wparam, lparam);
    if (handled)
        return answers_directly(msg) ? static_cast<LRESULT>(handled) : msg_result(h);
    if (msg == WM_INITDIALOG)
        return FALSE;
    return default_dialog_proc(h, msg, wparam, lparam, state.get());
}

HWND create_dialog(const DialogRequest& req, DWORD& error)
{
    const DialogTemplate& t = *req.tpl;
    DWORD style = t.style & ~static_cast<DWORD>(WS_VISIBLE);
    DWORD ex_style = t.ex_style;
    if (style & DS_MODALFRAME)
        ex_style |= WS_EX_DLGMODALFRAME;
    if (req.modal)
        style = (style & ~static_cast<DWORD>(WS_CHILD)) | WS_POPUP;

    const RECT client = dialog_units_to_pixels(t.x, t.y, t.cx, t.cy);
    const RECT frame = frame_insets(style, ex_style);
    const int width = static_cast<int>(client.right - client.left + frame.left + frame.right);
    const int height = static_cast<int>(client.bottom - client.top + frame.top + frame.bottom);
    const POINT origin = dialog_origin(req, style, client, frame, width, height);

    CreateRequest cr;
    cr.ex_style = ex_style;
    cr.class_name = "#32770";
    cr.title = t.caption.c_str();
    cr.style = style;
    cr.x = static_cast<int>(origin.x - frame.left);
    cr.y = static_cast<int>(origin.y - frame.top);
    cr.width = width;
    cr.height = height;
    cr.parent = req.owner;
    cr.instance = req.instance;
    HWND dlg = create_window(cr, error);
    if (!dlg)
        return nullptr;
    auto state = std::make_shared<DialogState>();
    state->proc = req.proc;
    state->disabled_owner = hwnd_value(req.disabled_owner);
    set_window_extension(dlg, state);

    for (const DialogItem& item : t.items) {
        const RECT r = dialog_units_to_pixels(item.x, item.y, item.cx, item.cy);
        const DWORD item_style = (item.style | WS_CHILD) & ~static_cast<DWORD>(WS_POPUP);
        HWND c = CreateWindowExA(item.ex_style, item.class_name.c_str(), item.text.c_str(), item_style,
                                 static_cast<int>(r.left), static_cast<int>(r.top),
                                 static_cast<int>(r.right - r.left), static_cast<int>(r.bottom - r.top), dlg,
                                 reinterpret_cast<HMENU>(static_cast<uintptr_t>(item.id)), req.instance, nullptr);
        if (!c) {
            // A dialog without one of its controls is not the dialog its
            // procedure was written for.
            error = GetLastError();
            state->disabled_owner = 0; // the caller enables it again
            DWORD ignored;
            destroy_window(dlg, ignored);
            return nullptr;
        }
    }

    HWND first = GetNextDlgTabItem(dlg, nullptr, FALSE);
    const LRESULT init = SendMessageA(dlg, WM_INITDIALOG, reinterpret_cast<WPARAM>(first), req.param);
    if (!IsWindow(dlg)) { // the procedure destroyed it
        error = ERROR_INVALID_WINDOW_HANDLE;
        return nullptr;
    }
    // TRUE: the first tab stop gets the focus when the dialog is activated;
    // FALSE: the procedure has set the focus itself.
    if (init && first) {
        std::lock_guard lock(state->mutex);
        state->saved_focus = hwnd_value(first);
    }
    if (init && first && GetActiveWindow() == dlg)
        focus_control(first);
    bool ended;
    {
        std::lock_guard lock(state->mutex);
        ended = state->ended;
    }
    if (!req.modal && (t.style & WS_VISIBLE) && !ended)
        ShowWindow(dlg, SW_SHOWNORMAL);
    return dlg;
}

} // namespace kolm::platform
