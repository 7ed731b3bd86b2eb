// Exported enabling, activation and focus functions.
#include "user/message_queue.h"
#include "user/remote.h"
#include "user/window.h"
#include "user/window_input.h"

using namespace kolm::platform;

namespace {

// The window when it is one of the calling thread's, else 0 with the
// Win32 error set.
DWORD own_window(HWND h)
{
    switch (window_home(h)) {
    case WindowHome::None:
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    case WindowHome::OtherProcess:
        SetLastError(ERROR_ACCESS_DENIED);
        return 0;
    case WindowHome::ThisProcess:
        break;
    }
    std::lock_guard lock(window_lock());
    Window* w = find_window_locked(hwnd_value(h));
    if (!w) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    if (w->thread_id != current_thread_id()) {
        SetLastError(ERROR_ACCESS_DENIED);
        return 0;
    }
    return w->handle;
}

} // namespace

BOOL EnableWindow(HWND hWnd, BOOL bEnable)
{
    if (window_home(hWnd) != WindowHome::ThisProcess) {
        SetLastError(window_home(hWnd) == WindowHome::None ? ERROR_INVALID_WINDOW_HANDLE : ERROR_ACCESS_DENIED);
        return FALSE;
    }
    bool was_disabled;
    bool changed;
    {
        std::lock_guard lock(window_lock());
        Window* w = find_window_locked(hwnd_value(hWnd));
        if (!w) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return FALSE;
        }
        was_disabled = (w->style & WS_DISABLED) != 0;
        changed = was_disabled == static_cast<bool>(bEnable);
        if (bEnable)
            w->style &= ~static_cast<DWORD>(WS_DISABLED);
        else
            w->style |= WS_DISABLED;
    }
    if (changed) {
        // A disabled window cannot keep the keyboard focus.
        if (!bEnable && is_within(hwnd_value(hWnd), focus_window_of_thread()))
            focus_window(0);
        SendMessageA(hWnd, WM_ENABLE, bEnable ? TRUE : FALSE, 0);
        notify_window_changed(hWnd, WindowChange::Enabled);
    }
    return was_disabled ? TRUE : FALSE;
}

BOOL IsWindowEnabled(HWND hWnd)
{
    DWORD style = 0;
    switch (window_home(hWnd)) {
    case WindowHome::None:
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    case WindowHome::OtherProcess: {
        auto info = remote_query_window(hWnd);
        if (!info) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return FALSE;
        }
        style = info->style;
        break;
    }
    case WindowHome::ThisProcess: {
        auto info = local_window_info(hwnd_value(hWnd));
        if (!info) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return FALSE;
        }
        style = info->style;
        break;
    }
    }
    return (style & WS_DISABLED) ? FALSE : TRUE;
}

HWND GetActiveWindow(VOID)
{
    return hwnd_from(active_window_of_thread());
}

HWND SetActiveWindow(HWND hWnd)
{
    DWORD target = 0;
    if (hWnd) {
        const DWORD own = own_window(hWnd);
        if (!own)
            return nullptr;
        target = top_level_of(own);
    }
    return hwnd_from(activate_window(target));
}

HWND GetFocus(VOID)
{
    return hwnd_from(focus_window_of_thread());
}

HWND SetFocus(HWND hWnd)
{
    DWORD target = 0;
    if (hWnd) {
        target = own_window(hWnd);
        if (!target)
            return nullptr;
    }
    return hwnd_from(focus_window(target));
}
