#include "user/window_input.h"

#include "user/message_queue.h"
#include "user/window.h"

#include <map>
#include <mutex>

namespace kolm::platform {

namespace {

struct ThreadInput {
    DWORD active = 0;
    DWORD focus = 0;
};

// NOTE: never held while a window procedure runs; messages are sent after
// the state has been changed and the lock dropped.
std::mutex& input_lock()
{
    static std::mutex* m = new std::mutex;
    return *m;
}

std::map<DWORD, ThreadInput>& inputs()
{
    static auto* m = new std::map<DWORD, ThreadInput>;
    return *m;
}

// The window if it still exists and belongs to the thread, else 0. A
// window on its way out counts only when `dying` says so.
DWORD live_for_thread(DWORD hwnd, DWORD thread_id, bool dying = false)
{
    if (!hwnd)
        return 0;
    std::lock_guard lock(window_lock());
    Window* w = find_window_locked(hwnd);
    return w && w->thread_id == thread_id && (dying || w->state != WindowState::Destroying) ? hwnd : 0;
}

DWORD read_slot(DWORD ThreadInput::*slot, bool dying = false)
{
    const DWORD tid = current_thread_id();
    DWORD h;
    {
        std::lock_guard lock(input_lock());
        auto it = inputs().find(tid);
        h = it == inputs().end() ? 0 : it->second.*slot;
    }
    return live_for_thread(h, tid, dying);
}

// Swaps the slot's value when it differs; returns the previous (live)
// value, and whether anything changed.
std::pair<DWORD, bool> swap_slot(DWORD ThreadInput::*slot, DWORD value)
{
    const DWORD tid = current_thread_id();
    DWORD old;
    {
        std::lock_guard lock(input_lock());
        old = inputs()[tid].*slot;
    }
    old = live_for_thread(old, tid);
    if (old == value)
        return { old, false };
    std::lock_guard lock(input_lock());
    inputs()[tid].*slot = value;
    return { old, true };
}

bool is_minimized(DWORD hwnd)
{
    std::lock_guard lock(window_lock());
    Window* w = find_window_locked(hwnd);
    return w && (w->style & WS_MINIMIZE);
}

} // namespace

DWORD top_level_of(DWORD hwnd)
{
    std::lock_guard lock(window_lock());
    Window* w = find_window_locked(hwnd);
    while (w && w->parent)
        w = find_window_locked(w->parent);
    return w ? w->handle : 0;
}

bool is_within(DWORD ancestor, DWORD hwnd)
{
    if (!ancestor || !hwnd)
        return false;
    std::lock_guard lock(window_lock());
    for (Window* w = find_window_locked(hwnd); w; w = w->parent ? find_window_locked(w->parent) : nullptr)
        if (w->handle == ancestor)
            return true;
    return false;
}

DWORD active_window_of_thread()
{
    return read_slot(&ThreadInput::active);
}

DWORD focus_window_of_thread()
{
    return read_slot(&ThreadInput::focus);
}

DWORD activate_window(DWORD hwnd)
{
    auto [old, changed] = swap_slot(&ThreadInput::active, hwnd);
    if (!changed)
        return old;
    if (old) {
        SendMessageA(hwnd_from(old), WM_ACTIVATE, MAKEWPARAM(WA_INACTIVE, is_minimized(old)),
                     static_cast<LPARAM>(hwnd));
        notify_window_changed(hwnd_from(old), WindowChange::Activation);
        // The focus leaves with the window it was in.
        if (is_within(old, focus_window_of_thread()))
            focus_window(0);
    }
    if (hwnd && active_window_of_thread() == hwnd) {
        SendMessageA(hwnd_from(hwnd), WM_ACTIVATE, MAKEWPARAM(WA_ACTIVE, is_minimized(hwnd)),
                     static_cast<LPARAM>(old));
        notify_window_changed(hwnd_from(hwnd), WindowChange::Activation);
    }
    return old;
}

DWORD focus_window(DWORD hwnd)
{
    if (hwnd) {
        const DWORD top = top_level_of(hwnd);
        if (top && active_window_of_thread() != top)
            activate_window(top);
    }
    auto [old, changed] = swap_slot(&ThreadInput::focus, hwnd);
    if (!changed)
        return old;
    if (old) {
        SendMessageA(hwnd_from(old), WM_KILLFOCUS, static_cast<WPARAM>(hwnd), 0);
        notify_window_changed(hwnd_from(old), WindowChange::Focus);
    }
    if (hwnd && focus_window_of_thread() == hwnd) {
        SendMessageA(hwnd_from(hwnd), WM_SETFOCUS, static_cast<WPARAM>(old), 0);
        notify_window_changed(hwnd_from(hwnd), WindowChange::Focus);
    }
    return old;
}

void activate_after_show(HWND hwnd, int cmd)
{
    const DWORD h = hwnd_value(hwnd);
    DWORD owner = 0;
    {
        std::lock_guard lock(window_lock());
        Window* w = find_window_locked(h);
        if (!w || w->parent || w->thread_id != current_thread_id())
            return;
        owner = w->owner;
    }
    switch (cmd) {
    case SW_SHOWNORMAL:
    case SW_SHOW:
    case SW_SHOWMAXIMIZED:
    case SW_RESTORE:
    case SW_SHOWDEFAULT:
        activate_window(h);
        break;
    case SW_HIDE:
        // A window being destroyed is hidden first, and hands activation on
        // as it goes.
        if (read_slot(&ThreadInput::active, true) == h) {
            // Activation goes back to the owner when the user could use it.
            DWORD next = 0;
            {
                std::lock_guard lock(window_lock());
                Window* o = find_window_locked(owner);
                if (o && o->thread_id == current_thread_id() && (o->style & WS_VISIBLE)
                    && !(o->style & WS_DISABLED))
                    next = owner;
            }
            activate_window(next);
        }
        break;
    default:
        break;
    }
}

void forget_input_window(DWORD hwnd)
{
    std::lock_guard lock(input_lock());
    for (auto it = inputs().begin(); it != inputs().end();) {
        if (it->second.active == hwnd)
            it->second.active = 0;
        if (it->second.focus == hwnd)
            it->second.focus = 0;
        it = (!it->second.active && !it->second.focus) ? inputs().erase(it) : std::next(it);
    }
}

} // namespace kolm::platform
