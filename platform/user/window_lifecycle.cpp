#include "user/window_lifecycle.h"

#include "user/mailbox.h"
#include "user/message_queue.h"
#include "user/window.h"
#include "user/window_input.h"

#include <algorithm>
#include <cstring>

namespace kolm::platform {

namespace {

// Where CW_USEDEFAULT puts an overlapped window, and how big it makes it.
constexpr int default_x = 64;
constexpr int default_y = 48;
constexpr int default_width = 640;
constexpr int default_height = 480;

RECT initial_rect(const CreateRequest& req)
{
    const bool overlapped = !(req.style & (WS_CHILD | WS_POPUP));
    int x = req.x, y = req.y, w = req.width, h = req.height;
    if (x == CW_USEDEFAULT) {
        x = overlapped ? default_x : 0;
        y = overlapped ? default_y : 0;
    }
    if (w == CW_USEDEFAULT) {
        w = overlapped ? default_width : 0;
        h = overlapped ? default_height : 0;
    }
    return RECT { x, y, x + std::max(w, 0), y + std::max(h, 0) };
}

void notify_created(HWND h)
{
    if (auto* o = window_observer())
        o->window_created(h);
}

// The window and everything below it, parents first.
std::vector<DWORD> subtree_locked(DWORD root)
{
    std::vector<DWORD> out { root };
    for (size_t i = 0; i < out.size(); ++i)
        if (Window* w = find_window_locked(out[i]))
            out.insert(out.end(), w->children.begin(), w->children.end());
    return out;
}

std::vector<DWORD> children_of(DWORD h)
{
    std::lock_guard lock(window_lock());
    Window* w = find_window_locked(h);
    return w ? w->children : std::vector<DWORD> {};
}

bool owned_by_this_thread(DWORD h)
{
    auto self = current_queue_if_any();
    std::lock_guard lock(window_lock());
    Window* w = find_window_locked(h);
    return w && self && w->queue == self;
}

// WM_DESTROY goes to a window before its children.
void send_destroy(DWORD h)
{
    // FIXME: a child owned by another thread is destroyed with its parent
    // but without its own messages, which would have to run on its thread.
    if (owned_by_this_thread(h))
        call_window_proc(hwnd_from(h), WM_DESTROY, 0, 0);
    for (DWORD c : children_of(h))
        send_destroy(c);
}

// WM_NCDESTROY goes to the children first; then the window is gone.
void free_window(DWORD h)
{
    for (DWORD c : children_of(h))
        free_window(c);
    if (owned_by_this_thread(h))
        call_window_proc(hwnd_from(h), WM_NCDESTROY, 0, 0);
    std::shared_ptr<MessageQueue> queue;
    std::shared_ptr<WindowExtension> extension;
    {
        std::lock_guard lock(window_lock());
        if (Window* w = find_window_locked(h)) {
            queue = w->queue;
            extension = std::move(w->extension);
            erase_window_locked(h);
        }
    }
    if (queue)
        queue->forget_window(h);
    forget_input_window(h);
    if (auto* o = window_observer())
        o->window_destroyed(hwnd_from(h));
}

} // namespace

HWND create_window(const CreateRequest& req, DWORD& error)
{
    auto name = class_name_from(req.class_name);
    auto cls = name ? find_class(*name) : nullptr;
    if (!cls) {
        error = ERROR_CANNOT_FIND_WND_CLASS;
        return nullptr;
    }
    const bool child = (req.style & WS_CHILD) != 0;
    if (child && !req.parent) {
        error = ERROR_TLW_WITH_WSCHILD;
        return nullptr;
    }
    auto queue = current_queue();
    if (!queue) {
        error = ERROR_NOT_ENOUGH_MEMORY;
        return nullptr;
    }

    auto w = std::make_shared<Window>();
    w->cls = cls;
    w->proc = cls->proc;
    w->style = req.style;
    w->ex_style = req.ex_style;
    w->rect = initial_rect(req);
    w->instance = req.instance;
    w->extra.assign(static_cast<size_t>(std::max(cls->window_extra, min_window_extra)), 0);
    w->queue = queue;
    w->thread_id = queue->thread_id();
    if (child)
        w->id = static_cast<UINT>(reinterpret_cast<uintptr_t>(req.menu));

    DWORD handle;
    {
        std::lock_guard lock(window_lock());
        if (req.parent) {
            Window* p = find_window_locked(hwnd_value(req.parent));
            if (!p || p->state == WindowState::Destroying) {
                error = ERROR_INVALID_WINDOW_HANDLE;
                return nullptr;
            }
            if (child) {
                w->parent = p->handle;
            } else {
                // A top-level window is owned by the top-level ancestor of
                // the window given as its parent.
                while (p && p->parent)
                    p = find_window_locked(p->parent);
                w->owner = p ? p->handle : 0;
            }
        }
        handle = insert_window_locked(w);
        if (!handle) {
            error = ERROR_NO_MORE_USER_HANDLES;
            return nullptr;
        }
        ++cls->live_windows;
        if (w->parent)
            find_window_locked(w->parent)->children.push_back(handle);
    }
    HWND hwnd = hwnd_from(handle);
    // Other processes reach this window through the mailbox; without one it
    // still works inside the process.
    ensure_mailbox();

    CREATESTRUCTA cs {};
    cs.lpCreateParams = req.param;
    cs.hInstance = req.instance;
    cs.hMenu = req.menu;
    cs.hwndParent = req.parent;
    cs.cy = static_cast<int>(w->rect.bottom - w->rect.top);
    cs.cx = static_cast<int>(w->rect.right - w->rect.left);
    cs.y = static_cast<int>(w->rect.top);
    cs.x = static_cast<int>(w->rect.left);
    cs.style = static_cast<LONG>(req.style);
    cs.lpszName = req.title;
    cs.lpszClass = req.class_name;
    cs.dwExStyle = req.ex_style;

    if (!call_window_proc(hwnd, WM_NCCREATE, 0, reinterpret_cast<LPARAM>(&cs))) {
        free_window(handle);
        error = ERROR_INVALID_PARAMETER;
        return nullptr;
    }
    {
        std::lock_guard lock(window_lock());
        if (Window* live = find_window_locked(handle); live && live->state == WindowState::Creating)
            live->state = WindowState::Alive;
    }
    if (call_window_proc(hwnd, WM_CREATE, 0, reinterpret_cast<LPARAM>(&cs)) == -1) {
        DWORD ignored;
        destroy_window(hwnd, ignored);
        error = ERROR_INVALID_PARAMETER;
        return nullptr;
    }
    if (!IsWindow(hwnd)) { // destroyed by its own creation messages
        error = ERROR_INVALID_WINDOW_HANDLE;
        return nullptr;
    }
    notify_created(hwnd);
    if (req.style & WS_VISIBLE) {
        invalidate_window(hwnd_value(hwnd));
        call_window_proc(hwnd, WM_SHOWWINDOW, TRUE, 0);
        if (auto* o = window_observer())
            o->window_shown(hwnd, true);
        // A top-level window made visible is shown as ShowWindow would: active.
        activate_after_show(hwnd, SW_SHOW);
    }
    return hwnd;
}

bool destroy_window(HWND hwnd, DWORD& error)
{
    const DWORD h = hwnd_value(hwnd);
    auto self = current_queue_if_any();
    std::vector<DWORD> owned;
    bool was_visible = false;
    {
        std::lock_guard lock(window_lock());
        Window* w = find_window_locked(h);
        if (!w) {
            error = ERROR_INVALID_WINDOW_HANDLE;
            return false;
        }
        if (!self || w->queue != self) {
            error = ERROR_ACCESS_DENIED;
            return false;
        }
        if (w->state == WindowState::Destroying)
            return true; // already on its way out
        was_visible = (w->style & WS_VISIBLE) != 0;
        w->style &= ~static_cast<DWORD>(WS_VISIBLE);
        for (DWORD d : subtree_locked(h))
            if (Window* x = find_window_locked(d))
                x->state = WindowState::Destroying;
        for (DWORD other : all_windows_locked()) {
            Window* x = find_window_locked(other);
            if (x && x->owner == h && x->state != WindowState::Destroying && x->queue == self)
                owned.push_back(other);
        }
    }
    // Owned windows (dialogs, notices) go first, as they would on screen.
    for (DWORD o : owned) {
        DWORD ignored;
        destroy_window(hwnd_from(o), ignored);
    }
    if (was_visible) {
        invalidate_owner(h);
        if (auto* o = window_observer())
            o->window_shown(hwnd, false);
        activate_after_show(hwnd, SW_HIDE);
    }
    send_destroy(h);
    free_window(h);
    return true;
}

LRESULT default_window_proc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam)
{
    switch (msg) {
    case WM_NCCREATE: {
        const auto* cs = reinterpret_cast<const CREATESTRUCTA*>(lparam);
        if (cs && cs->lpszName && !IS_INTRESOURCE(cs->lpszName)) {
            std::lock_guard lock(window_lock());
            if (Window* w = find_window_locked(hwnd_value(hwnd)))
                w->text = cs->lpszName;
        }
        return TRUE;
    }
    case WM_CLOSE: {
        DWORD ignored;
        destroy_window(hwnd, ignored);
        return 0;
    }
    case WM_SYSCOMMAND:
        if ((wparam & 0xFFF0) == SC_CLOSE)
            SendMessageA(hwnd, WM_CLOSE, 0, 0);
        return 0;
    case WM_GETTEXTLENGTH: {
        std::lock_guard lock(window_lock());
        Window* w = find_window_locked(hwnd_value(hwnd));
        return w ? static_cast<LRESULT>(w->text.size()) : 0;
    }
    case WM_GETTEXT: {
        char* out = reinterpret_cast<char*>(lparam);
        if (!out || wparam == 0)
            return 0;
        std::lock_guard lock(window_lock());
        Window* w = find_window_locked(hwnd_value(hwnd));
        const size_t n = w ? std::min<size_t>(w->text.size(), wparam - 1) : 0;
        if (n)
            std::memcpy(out, w->text.data(), n);
        out[n] = '\0';
        return static_cast<LRESULT>(n);
    }
    case WM_SETTEXT: {
        const char* text = reinterpret_cast<const char*>(lparam);
        {
            std::lock_guard lock(window_lock());
            Window* w = find_window_locked(hwnd_value(hwnd));
            if (!w)
                return FALSE;
            w->text = text ? text : "";
        }
        if (auto* o = window_observer())
            o->window_text_changed(hwnd);
        return TRUE;
    }
    case WM_QUERYENDSESSION:
        return TRUE;
    case WM_ACTIVATE:
        if (LOWORD(wparam) != WA_INACTIVE && !HIWORD(wparam))
            focus_window(hwnd_value(hwnd));
        return 0;
    default:
        return 0;
    }
}

bool show_window(HWND hwnd, int cmd, DWORD& error)
{
    bool was_visible;
    bool changed;
    {
        std::lock_guard lock(window_lock());
        Window* w = find_window_locked(hwnd_value(hwnd));
        if (!w) {
            error = ERROR_INVALID_WINDOW_HANDLE;
            return false;
        }
        was_visible = (w->style & WS_VISIBLE) != 0;
        const bool visible = cmd != SW_HIDE;
        changed = visible != was_visible;
        if (visible)
            w->style |= WS_VISIBLE;
        else
            w->style &= ~static_cast<DWORD>(WS_VISIBLE);
        switch (cmd) {
        case SW_SHOWMINIMIZED:
        case SW_MINIMIZE:
        case SW_SHOWMINNOACTIVE:
        case SW_FORCEMINIMIZE:
            w->style = (w->style | WS_MINIMIZE) & ~static_cast<DWORD>(WS_MAXIMIZE);
            break;
        case SW_SHOWMAXIMIZED:
            w->style = (w->style | WS_MAXIMIZE) & ~static_cast<DWORD>(WS_MINIMIZE);
            break;
        case SW_SHOWNORMAL:
        case SW_RESTORE:
            w->style &= ~static_cast<DWORD>(WS_MINIMIZE | WS_MAXIMIZE);
            break;
        default:
            break;
        }
    }
    if (changed) {
        if (cmd != SW_HIDE)
            invalidate_window(hwnd_value(hwnd));
        else
            invalidate_owner(hwnd_value(hwnd));
        SendMessageA(hwnd, WM_SHOWWINDOW, cmd != SW_HIDE, 0);
        if (auto* o = window_observer())
            o->window_shown(hwnd, cmd != SW_HIDE);
    }
    activate_after_show(hwnd, cmd);
    return was_visible;
}

} // namespace kolm::platform
