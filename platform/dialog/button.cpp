// The "BUTTON" class: push buttons, default push buttons, check boxes,
// radio buttons and group boxes.
#include "dialog/controls.h"
#include "internal/nocase.h"
#include "dialog/dialog_manager.h"
#include "user/message_pump.h"

#include <mutex>

namespace kolm::platform {

namespace {

class ButtonState : public WindowExtension {
public:
    std::mutex mutex;
    UINT check = BST_UNCHECKED;
    bool pushed = false;
};

DWORD button_type(DWORD style)
{
    return style & BS_TYPEMASK;
}

bool has_check(DWORD type)
{
    switch (type) {
    case BS_CHECKBOX:
    case BS_AUTOCHECKBOX:
    case BS_RADIOBUTTON:
    case BS_AUTORADIOBUTTON:
    case BS_3STATE:
    case BS_AUTO3STATE:
        return true;
    default:
        return false;
    }
}

DWORD style_of(HWND h)
{
    auto facts = control_facts(h);
    return facts ? facts->style : 0;
}

UINT get_check(HWND h)
{
    auto s = state_of<ButtonState>(h);
    if (!s)
        return BST_UNCHECKED;
    std::lock_guard lock(s->mutex);
    return s->check;
}

void set_check(HWND h, UINT check)
{
    auto s = state_of<ButtonState>(h);
    if (!s)
        return;
    bool changed;
    {
        std::lock_guard lock(s->mutex);
        changed = s->check != check;
        s->check = check;
    }
    if (changed)
        notify_window_changed(h, WindowChange::Content);
}

void set_pushed(HWND h, bool pushed)
{
    auto s = state_of<ButtonState>(h);
    if (!s)
        return;
    bool changed;
    {
        std::lock_guard lock(s->mutex);
        changed = s->pushed != pushed;
        s->pushed = pushed;
    }
    if (changed)
        notify_window_changed(h, WindowChange::Content);
}

bool is_pushed(HWND h)
{
    auto s = state_of<ButtonState>(h);
    if (!s)
        return false;
    std::lock_guard lock(s->mutex);
    return s->pushed;
}

// The other automatic radio buttons of the group: a group runs from a
// control with WS_GROUP up to (not including) the next one.
void uncheck_group_mates(HWND h)
{
    const auto siblings = siblings_of(h);
    size_t self = 0;
    while (self < siblings.size() && siblings[self] != h)
        ++self;
    if (self == siblings.size())
        return;
    size_t first = self;
    while (first > 0 && !(style_of(siblings[first]) & WS_GROUP))
        --first;
    for (size_t i = first; i < siblings.size(); ++i) {
        if (i > first && (style_of(siblings[i]) & WS_GROUP))
            break;
        if (i == self)
            continue;
        auto facts = control_facts(siblings[i]);
        if (facts && equal_nocase(facts->class_name, "BUTTON") && button_type(facts->style) == BS_AUTORADIOBUTTON)
            set_check(siblings[i], BST_UNCHECKED);
    }
}

void click(HWND h)
{
    switch (button_type(style_of(h))) {
    case BS_AUTOCHECKBOX:
        set_check(h, get_check(h) == BST_CHECKED ? BST_UNCHECKED : BST_CHECKED);
        break;
    case BS_AUTO3STATE:
        set_check(h, (get_check(h) + 1) % 3);
        break;
    case BS_AUTORADIOBUTTON:
        set_check(h, BST_CHECKED);
        uncheck_group_mates(h);
        break;
    default:
        break;
    }
    notify_parent(h, BN_CLICKED);
}

bool point_inside(HWND h, LPARAM lparam)
{
    RECT r;
    if (!GetClientRect(h, &r))
        return false;
    const int x = static_cast<short>(LOWORD(lparam));
    const int y = static_cast<short>(HIWORD(lparam));
    return x >= r.left && x < r.right && y >= r.top && y < r.bottom;
}

} // namespace

LRESULT CALLBACK button_proc(HWND h, UINT msg, WPARAM wparam, LPARAM lparam)
{
    const DWORD type = button_type(style_of(h));
    switch (msg) {
    case WM_NCCREATE:
        set_window_extension(h, std::make_shared<ButtonState>());
        return DefWindowProcA(h, msg, wparam, lparam);
    case WM_GETDLGCODE:
        switch (type) {
        case BS_DEFPUSHBUTTON:
            return DLGC_BUTTON | DLGC_DEFPUSHBUTTON;
        case BS_PUSHBUTTON:
            return DLGC_BUTTON | DLGC_UNDEFPUSHBUTTON;
        case BS_RADIOBUTTON:
        case BS_AUTORADIOBUTTON:
            return DLGC_BUTTON | DLGC_RADIOBUTTON;
        case BS_GROUPBOX:
            return DLGC_STATIC;
        default:
            return DLGC_BUTTON;
        }
    case BM_GETCHECK:
        return has_check(type) ? get_check(h) : BST_UNCHECKED;
    case BM_SETCHECK:
        // Push buttons and group boxes have no check mark to set.
        if (has_check(type))
            set_check(h, wparam == BST_INDETERMINATE && (type == BS_3STATE || type == BS_AUTO3STATE)
                              ? BST_INDETERMINATE
                              : (wparam ? BST_CHECKED : BST_UNCHECKED));
        return 0;
    case BM_GETSTATE: {
        LRESULT state = has_check(type) ? get_check(h) : 0;
        if (is_pushed(h))
            state |= BST_PUSHED;
        if (GetFocus() == h)
            state |= BST_FOCUS;
        return state;
    }
    case BM_SETSTATE:
        set_pushed(h, wparam != 0);
        return 0;
    case BM_SETSTYLE: {
        const DWORD style = style_of(h);
        SetWindowLongA(h, GWL_STYLE, static_cast<LONG>((style & ~static_cast<DWORD>(BS_TYPEMASK)) | (wparam & BS_TYPEMASK)));
        notify_window_changed(h, WindowChange::Content);
        return 0;
    }
    case WM_KOLM_CLICK: {
        const ReplyWhenModal early;
        return SendMessageA(h, BM_CLICK, 0, 0);
    }
    case BM_CLICK:
        if (type == BS_GROUPBOX || !reachable_by_user(h))
            return 0;
        SendMessageA(h, WM_LBUTTONDOWN, MK_LBUTTON, 0);
        SendMessageA(h, WM_LBUTTONUP, 0, 0);
        return 0;
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK:
        // A group box is only a frame: the click belongs to what lies under it.
        if (type == BS_GROUPBOX)
            return forward_mouse_to_parent(h, msg, wparam, lparam);
        if (!reachable_by_user(h))
            return 0;
        set_pushed(h, true);
        SetFocus(h);
        return 0;
    case WM_LBUTTONUP:
        if (type == BS_GROUPBOX)
            return forward_mouse_to_parent(h, msg, wparam, lparam);
        if (!is_pushed(h))
            return 0;
        set_pushed(h, false);
        // Released outside the button: the user changed their mind.
        if (point_inside(h, lparam) && reachable_by_user(h))
            click(h);
        return 0;
    case WM_KEYDOWN:
        if (wparam == VK_SPACE && type != BS_GROUPBOX && reachable_by_user(h))
            set_pushed(h, true);
        return 0;
    case WM_KEYUP:
        if (wparam == VK_SPACE && is_pushed(h)) {
            set_pushed(h, false);
            click(h);
        }
        return 0;
    case WM_KILLFOCUS:
        set_pushed(h, false);
        return 0;
    default:
        return DefWindowProcA(h, msg, wparam, lparam);
    }
}

} // namespace kolm::platform

namespace kolm::platform {

std::optional<ButtonView> button_view(HWND button)
{
    auto s = state_of<ButtonState>(button);
    if (!s)
        return std::nullopt;
    std::lock_guard lock(s->mutex);
    return ButtonView { s->check, s->pushed };
}

} // namespace kolm::platform
