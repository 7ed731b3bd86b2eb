// The "LISTBOX" class: the window side of ListBoxModel.
#include "dialog/listbox.h"

#include "dialog/controls.h"
#include "dialog/listbox_model.h"

#include <algorithm>
#include <cstring>
#include <mutex>

namespace kolm::platform {

namespace {

class ListBoxState : public WindowExtension {
public:
    ListBoxState(SelectionMode mode, bool sorted)
        : model(mode, sorted)
    {
    }
    std::mutex mutex;
    ListBoxModel model;
    bool redraw = true;
};

// Runs `fn` on the model under its lock; tells the renderer afterwards
// when the list changed and may be redrawn.
template <typename Fn>
LRESULT with_model(HWND h, ListBoxState& s, bool changes, Fn fn)
{
    LRESULT r;
    bool redraw;
    {
        std::lock_guard lock(s.mutex);
        r = fn(s.model);
        redraw = s.redraw;
    }
    if (changes && redraw)
        notify_window_changed(h, WindowChange::Content);
    return r;
}

const char* text_param(LPARAM lparam)
{
    // A NULL string is an empty item rather than a crash.
    const char* t = reinterpret_cast<const char*>(lparam);
    return t ? t : "";
}

bool notifies(HWND h)
{
    auto facts = control_facts(h);
    return facts && (facts->style & LBS_NOTIFY);
}

int item_at(ListBoxState& s, LPARAM lparam)
{
    const int y = static_cast<short>(HIWORD(lparam));
    if (y < 0)
        return -1;
    std::lock_guard lock(s.mutex);
    return s.model.top() + y / listbox_item_height;
}

LRESULT key_down(HWND h, ListBoxState& s, WPARAM vk)
{
    int target;
    {
        std::lock_guard lock(s.mutex);
        const int n = s.model.count();
        if (n == 0)
            return 0;
        const int caret = s.model.caret();
        switch (vk) {
        case VK_UP:
            target = caret > 0 ? caret - 1 : 0;
            break;
        case VK_DOWN:
            target = caret + 1 < n ? caret + 1 : n - 1;
            break;
        case VK_HOME:
            target = 0;
            break;
        case VK_END:
            target = n - 1;
            break;
        default:
            return 0;
        }
    }
    listbox_user_click(h, target, false, false);
    return 0;
}

} // namespace

LRESULT CALLBACK listbox_proc(HWND h, UINT msg, WPARAM wparam, LPARAM lparam)
{
    if (msg == WM_NCCREATE) {
        const auto* cs = reinterpret_cast<const CREATESTRUCTA*>(lparam);
        const DWORD style = cs ? static_cast<DWORD>(cs->style) : 0;
        set_window_extension(h, std::make_shared<ListBoxState>(selection_mode_of(style), (style & LBS_SORT) != 0));
        return DefWindowProcA(h, msg, wparam, lparam);
    }
    auto s = state_of<ListBoxState>(h);
    if (!s)
        return DefWindowProcA(h, msg, wparam, lparam);
    const int index = static_cast<int>(static_cast<intptr_t>(wparam));
    switch (msg) {
    case LB_ADDSTRING:
        return with_model(h, *s, true, [&](ListBoxModel& m) { return m.add(text_param(lparam)); });
    case LB_INSERTSTRING:
        return with_model(h, *s, true, [&](ListBoxModel& m) { return m.insert(index, text_param(lparam)); });
    case LB_DELETESTRING:
        return with_model(h, *s, true, [&](ListBoxModel& m) { return m.remove(index); });
    case LB_RESETCONTENT:
        return with_model(h, *s, true, [](ListBoxModel& m) {
            m.reset();
            return TRUE;
        });
    case LB_GETCOUNT:
        return with_model(h, *s, false, [](ListBoxModel& m) { return m.count(); });
    case LB_GETTEXTLEN:
        return with_model(h, *s, false, [&](ListBoxModel& m) -> LRESULT {
            auto t = m.text(index);
            return t ? static_cast<LRESULT>(t->size()) : LB_ERR;
        });
    case LB_GETTEXT:
        // The caller sizes the buffer with LB_GETTEXTLEN, as on Windows.
        return with_model(h, *s, false, [&](ListBoxModel& m) -> LRESULT {
            auto t = m.text(index);
            char* out = reinterpret_cast<char*>(lparam);
            if (!t || !out)
                return LB_ERR;
            std::memcpy(out, t->c_str(), t->size() + 1);
            return static_cast<LRESULT>(t->size());
        });
    case LB_FINDSTRING:
    case LB_FINDSTRINGEXACT:
        return with_model(h, *s, false, [&](ListBoxModel& m) {
            return m.find(index, text_param(lparam), msg == LB_FINDSTRINGEXACT);
        });
    case LB_SELECTSTRING:
        return with_model(h, *s, true, [&](ListBoxModel& m) { return m.select_string(index, text_param(lparam)); });
    case LB_GETSEL:
        return with_model(h, *s, false, [&](ListBoxModel& m) { return m.selected(index); });
    case LB_SETSEL:
        return with_model(h, *s, true, [&](ListBoxModel& m) {
            return m.set_selected(wparam != 0, static_cast<int>(lparam));
        });
    case LB_GETSELCOUNT:
        return with_model(h, *s, false, [](ListBoxModel& m) { return m.selected_count(); });
    case LB_GETSELITEMS:
        return with_model(h, *s, false, [&](ListBoxModel& m) {
            return m.selected_items(reinterpret_cast<int*>(lparam), static_cast<int>(std::min<WPARAM>(wparam, 0x7FFFFFFF)));
        });
    case LB_GETCURSEL:
        return with_model(h, *s, false, [](ListBoxModel& m) { return m.current(); });
    case LB_SETCURSEL:
        return with_model(h, *s, true, [&](ListBoxModel& m) { return m.set_current(index); });
    case LB_GETITEMDATA:
        return with_model(h, *s, false, [&](ListBoxModel& m) {
            bool ok;
            return m.item_data(index, ok);
        });
    case LB_SETITEMDATA:
        return with_model(h, *s, false, [&](ListBoxModel& m) { return m.set_item_data(index, lparam); });
    case LB_GETCARETINDEX:
        return with_model(h, *s, false, [](ListBoxModel& m) { return m.caret(); });
    case LB_SETCARETINDEX:
        return with_model(h, *s, true, [&](ListBoxModel& m) { return m.set_caret(index); });
    case LB_GETTOPINDEX:
        return with_model(h, *s, false, [](ListBoxModel& m) { return m.top(); });
    case LB_SETTOPINDEX:
        return with_model(h, *s, true, [&](ListBoxModel& m) { return m.set_top(index); });
    case WM_SETREDRAW: {
        bool now_on;
        {
            std::lock_guard lock(s->mutex);
            now_on = wparam && !s->redraw;
            s->redraw = wparam != 0;
        }
        // The changes made while redrawing was off show all at once.
        if (now_on)
            notify_window_changed(h, WindowChange::Content);
        return 0;
    }
    case WM_GETDLGCODE:
        return DLGC_WANTARROWS | DLGC_WANTCHARS;
    case WM_LBUTTONDOWN:
        listbox_user_click(h, item_at(*s, lparam), (wparam & MK_SHIFT) != 0, (wparam & MK_CONTROL) != 0);
        return 0;
    case WM_LBUTTONDBLCLK:
        listbox_user_double_click(h, item_at(*s, lparam));
        return 0;
    case WM_KEYDOWN:
        return key_down(h, *s, wparam);
    case WM_SETFOCUS:
        if (notifies(h))
            notify_parent(h, LBN_SETFOCUS);
        return 0;
    case WM_KILLFOCUS:
        if (notifies(h))
            notify_parent(h, LBN_KILLFOCUS);
        return 0;
    default:
        return DefWindowProcA(h, msg, wparam, lparam);
    }
}

bool listbox_user_click(HWND listbox, int index, bool shift, bool ctrl)
{
    auto s = state_of<ListBoxState>(listbox);
    if (!s || !reachable_by_user(listbox))
        return false;
    bool clicked;
    {
        std::lock_guard lock(s->mutex);
        clicked = s->model.click(index, shift, ctrl);
    }
    if (!clicked)
        return false;
    notify_window_changed(listbox, WindowChange::Content);
    if (GetFocus() != listbox)
        SetFocus(listbox);
    // NOTE: as on Windows, a click on an item notifies even when that item
    // was already the selection.
    if (notifies(listbox))
        notify_parent(listbox, LBN_SELCHANGE);
    return true;
}

bool listbox_user_double_click(HWND listbox, int index)
{
    if (!listbox_user_click(listbox, index))
        return false;
    if (notifies(listbox))
        notify_parent(listbox, LBN_DBLCLK);
    return true;
}

std::optional<ListBoxView> listbox_view(HWND listbox)
{
    auto s = state_of<ListBoxState>(listbox);
    if (!s)
        return std::nullopt;
    std::lock_guard lock(s->mutex);
    ListBoxView v;
    for (int i = 0; i < s->model.count(); ++i) {
        v.items.push_back(*s->model.text(i));
        v.selected.push_back(s->model.selected(i) == 1);
    }
    v.caret = s->model.caret();
    v.top = s->model.top();
    v.redraw = s->redraw;
    return v;
}

} // namespace kolm::platform
