// Exported window functions: check, call the internals, report in Win32 form.
#include "user/remote.h"
#include "user/window.h"
#include "user/window_lifecycle.h"

#include <cstring>

using namespace kolm::platform;

namespace {

BOOL fail(DWORD error)
{
    SetLastError(error);
    return FALSE;
}

} // namespace

ATOM RegisterClassA(const WNDCLASSA* wc)
{
    if (!wc) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    auto name = class_name_from(wc->lpszClassName);
    if (!name || IS_INTRESOURCE(wc->lpszClassName)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    DWORD error = 0;
    ATOM atom = register_class(*wc, *name, ClassScope::Process, error);
    if (!atom)
        SetLastError(error);
    return atom;
}

BOOL UnregisterClassA(LPCSTR lpClassName, HINSTANCE)
{
    auto name = class_name_from(lpClassName);
    if (!name)
        return fail(ERROR_CLASS_DOES_NOT_EXIST);
    if (DWORD err = unregister_class(*name))
        return fail(err);
    return TRUE;
}

int GetClassNameA(HWND hWnd, LPSTR lpClassName, int nMaxCount)
{
    std::string name;
    if (window_home(hWnd) == WindowHome::OtherProcess) {
        auto info = remote_query_window(hWnd);
        if (!info)
            return fail(ERROR_INVALID_WINDOW_HANDLE);
        name = info->class_name;
    } else if (auto info = local_window_info(hwnd_value(hWnd))) {
        name = info->class_name;
    } else {
        return fail(ERROR_INVALID_WINDOW_HANDLE);
    }
    if (!lpClassName || nMaxCount <= 0)
        return fail(ERROR_INSUFFICIENT_BUFFER);
    const size_t n = std::min<size_t>(name.size(), static_cast<size_t>(nMaxCount) - 1);
    std::memcpy(lpClassName, name.data(), n);
    lpClassName[n] = '\0';
    return static_cast<int>(n);
}

HWND CreateWindowExA(DWORD dwExStyle, LPCSTR lpClassName, LPCSTR lpWindowName, DWORD dwStyle, int X, int Y,
                     int nWidth, int nHeight, HWND hWndParent, HMENU hMenu, HINSTANCE hInstance, LPVOID lpParam)
{
    CreateRequest req;
    req.ex_style = dwExStyle;
    req.class_name = lpClassName;
    req.title = lpWindowName;
    req.style = dwStyle;
    req.x = X;
    req.y = Y;
    req.width = nWidth;
    req.height = nHeight;
    req.parent = hWndParent;
    req.menu = hMenu;
    req.instance = hInstance;
    req.param = lpParam;
    DWORD error = 0;
    HWND h = create_window(req, error);
    if (!h)
        SetLastError(error);
    return h;
}

BOOL DestroyWindow(HWND hWnd)
{
    DWORD error = 0;
    if (window_home(hWnd) == WindowHome::OtherProcess)
        return fail(ERROR_ACCESS_DENIED);
    if (!destroy_window(hWnd, error))
        return fail(error);
    return TRUE;
}

LRESULT DefWindowProcA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam)
{
    return default_window_proc(hWnd, Msg, wParam, lParam);
}

LRESULT CallWindowProcA(WNDPROC lpPrevWndFunc, HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam)
{
    // A value read with GetWindowLongA(GWL_WNDPROC) is a cookie, not code.
    const auto raw = reinterpret_cast<uintptr_t>(lpPrevWndFunc);
    const auto high = raw >> 32;
    if ((high == 0 || high == 0xFFFFFFFFu) && ((raw & 0xFFFF0000u) == 0xFFFF0000u))
        lpPrevWndFunc = window_proc_from_cookie(static_cast<LONG>(static_cast<DWORD>(raw)));
    if (!lpPrevWndFunc)
        return 0;
    return lpPrevWndFunc(hWnd, Msg, wParam, lParam);
}

BOOL IsWindow(HWND hWnd)
{
    switch (window_home(hWnd)) {
    case WindowHome::ThisProcess:
        return local_window_info(hwnd_value(hWnd)) ? TRUE : FALSE;
    case WindowHome::OtherProcess:
        return remote_query_window(hWnd) ? TRUE : FALSE;
    case WindowHome::None:
        break;
    }
    return FALSE;
}

namespace {

std::optional<WindowInfo> any_window_info(HWND h)
{
    switch (window_home(h)) {
    case WindowHome::ThisProcess:
        return local_window_info(hwnd_value(h));
    case WindowHome::OtherProcess:
        if (auto r = remote_query_window(h)) {
            WindowInfo info;
            info.handle = hwnd_value(h);
            info.thread_id = r->thread_id;
            info.style = r->style;
            info.ex_style = r->ex_style;
            info.id = r->id;
            info.parent = r->parent;
            info.class_name = std::move(r->class_name);
            info.text = std::move(r->text);
            return info;
        }
        return std::nullopt;
    case WindowHome::None:
        break;
    }
    return std::nullopt;
}

} // namespace

BOOL IsWindowVisible(HWND hWnd)
{
    // Visible only when the window and every parent above it are.
    constexpr int max_depth = 64;
    HWND h = hWnd;
    for (int depth = 0; depth < max_depth; ++depth) {
        auto info = any_window_info(h);
        if (!info || !(info->style & WS_VISIBLE))
            return FALSE;
        if (!(info->style & WS_CHILD) || !info->parent)
            return TRUE;
        h = hwnd_from(info->parent);
    }
    return FALSE;
}

BOOL ShowWindow(HWND hWnd, int nCmdShow)
{
    if (window_home(hWnd) != WindowHome::ThisProcess)
        return fail(window_home(hWnd) == WindowHome::None ? ERROR_INVALID_WINDOW_HANDLE : ERROR_ACCESS_DENIED);
    DWORD error = 0;
    const bool was_visible = show_window(hWnd, nCmdShow, error);
    if (error)
        SetLastError(error);
    return was_visible ? TRUE : FALSE;
}

BOOL UpdateWindow(HWND hWnd)
{
    // Nothing is painted by the layer itself, so no window ever has a
    // region waiting for WM_PAINT.
    if (!IsWindow(hWnd))
        return fail(ERROR_INVALID_WINDOW_HANDLE);
    return TRUE;
}

HWND GetParent(HWND hWnd)
{
    auto info = any_window_info(hWnd);
    if (!info) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return nullptr;
    }
    return hwnd_from(info->parent);
}

int GetDlgCtrlID(HWND hWnd)
{
    auto info = any_window_info(hWnd);
    if (!info)
        return fail(ERROR_INVALID_WINDOW_HANDLE);
    return (info->style & WS_CHILD) ? static_cast<int>(info->id) : 0;
}

DWORD GetWindowThreadProcessId(HWND hWnd, LPDWORD lpdwProcessId)
{
    auto info = any_window_info(hWnd);
    if (!info) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    if (lpdwProcessId)
        *lpdwProcessId = decode_hwnd(info->handle)->pid;
    return info->thread_id;
}

HWND FindWindowA(LPCSTR lpClassName, LPCSTR lpWindowName)
{
    auto cls = class_name_from(lpClassName);
    std::optional<std::string> title;
    if (lpWindowName)
        title = lpWindowName;
    if (DWORD h = find_local_window(cls, title))
        return hwnd_from(h);
    if (DWORD h = remote_find_window(cls, title))
        return hwnd_from(h);
    return nullptr;
}

int GetWindowTextA(HWND hWnd, LPSTR lpString, int nMaxCount)
{
    if (!lpString || nMaxCount <= 0)
        return 0;
    lpString[0] = '\0';
    // A window of this process answers WM_GETTEXT itself; another
    // process's window text is read without running its procedure, so a
    // hung program cannot hang the caller.
    if (window_home(hWnd) == WindowHome::ThisProcess)
        return static_cast<int>(SendMessageA(hWnd, WM_GETTEXT, static_cast<WPARAM>(nMaxCount),
                                             reinterpret_cast<LPARAM>(lpString)));
    auto info = any_window_info(hWnd);
    if (!info)
        return fail(ERROR_INVALID_WINDOW_HANDLE);
    const size_t n = std::min<size_t>(info->text.size(), static_cast<size_t>(nMaxCount) - 1);
    std::memcpy(lpString, info->text.data(), n);
    lpString[n] = '\0';
    return static_cast<int>(n);
}

int GetWindowTextLengthA(HWND hWnd)
{
    if (window_home(hWnd) == WindowHome::ThisProcess)
        return static_cast<int>(SendMessageA(hWnd, WM_GETTEXTLENGTH, 0, 0));
    auto info = any_window_info(hWnd);
    if (!info)
        return fail(ERROR_INVALID_WINDOW_HANDLE);
    return static_cast<int>(info->text.size());
}

BOOL SetWindowTextA(HWND hWnd, LPCSTR lpString)
{
    return SendMessageA(hWnd, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(lpString)) ? TRUE : FALSE;
}

LONG GetWindowLongA(HWND hWnd, int nIndex)
{
    if (window_home(hWnd) == WindowHome::OtherProcess) {
        auto info = any_window_info(hWnd);
        if (!info)
            return fail(ERROR_INVALID_WINDOW_HANDLE);
        switch (nIndex) {
        case GWL_STYLE:
            return static_cast<LONG>(info->style);
        case GWL_EXSTYLE:
            return static_cast<LONG>(info->ex_style);
        case GWL_ID:
            return static_cast<LONG>(info->id);
        case GWL_HWNDPARENT:
            return static_cast<LONG>(info->parent);
        default:
            return fail(ERROR_ACCESS_DENIED);
        }
    }
    WNDPROC proc = nullptr;
    {
        std::lock_guard lock(window_lock());
        Window* w = find_window_locked(hwnd_value(hWnd));
        if (!w)
            return fail(ERROR_INVALID_WINDOW_HANDLE);
        switch (nIndex) {
        case GWL_WNDPROC:
            proc = w->proc;
            break;
        case GWL_HINSTANCE:
            return static_cast<LONG>(reinterpret_cast<uintptr_t>(w->instance));
        case GWL_HWNDPARENT:
            return static_cast<LONG>(w->parent ? w->parent : w->owner);
        case GWL_ID:
            return static_cast<LONG>(w->id);
        case GWL_STYLE:
            return static_cast<LONG>(w->style);
        case GWL_EXSTYLE:
            return static_cast<LONG>(w->ex_style);
        case GWL_USERDATA:
            return w->user_data;
        default: {
            if (nIndex < 0 || static_cast<size_t>(nIndex) + sizeof(LONG) > w->extra.size())
                return fail(ERROR_INVALID_INDEX);
            LONG v;
            std::memcpy(&v, w->extra.data() + nIndex, sizeof v);
            return v;
        }
        }
    }
    return window_proc_cookie(proc);
}

LONG SetWindowLongA(HWND hWnd, int nIndex, LONG dwNewLong)
{
    if (window_home(hWnd) == WindowHome::OtherProcess)
        return fail(ERROR_ACCESS_DENIED);
    WNDPROC new_proc = nullptr;
    LONG old_cookie = 0;
    if (nIndex == GWL_WNDPROC) {
        new_proc = window_proc_from_cookie(dwNewLong);
        if (!new_proc)
            return fail(ERROR_INVALID_PARAMETER);
        old_cookie = GetWindowLongA(hWnd, GWL_WNDPROC);
        if (!old_cookie)
            return 0;
    }
    std::lock_guard lock(window_lock());
    Window* w = find_window_locked(hwnd_value(hWnd));
    if (!w)
        return fail(ERROR_INVALID_WINDOW_HANDLE);
    LONG old = 0;
    switch (nIndex) {
    case GWL_WNDPROC:
        w->proc = new_proc;
        return old_cookie;
    case GWL_HINSTANCE:
        old = static_cast<LONG>(reinterpret_cast<uintptr_t>(w->instance));
        w->instance = reinterpret_cast<HINSTANCE>(static_cast<uintptr_t>(static_cast<DWORD>(dwNewLong)));
        return old;
    case GWL_HWNDPARENT:
        // Changes the owner of a top-level window; a child's parent stays.
        old = static_cast<LONG>(w->parent ? w->parent : w->owner);
        if (!w->parent)
            w->owner = static_cast<DWORD>(dwNewLong);
        return old;
    case GWL_ID:
        old = static_cast<LONG>(w->id);
        w->id = static_cast<UINT>(dwNewLong);
        return old;
    case GWL_STYLE:
        old = static_cast<LONG>(w->style);
        w->style = static_cast<DWORD>(dwNewLong);
        return old;
    case GWL_EXSTYLE:
        old = static_cast<LONG>(w->ex_style);
        w->ex_style = static_cast<DWORD>(dwNewLong);
        return old;
    case GWL_USERDATA:
        old = w->user_data;
        w->user_data = dwNewLong;
        return old;
    default:
        if (nIndex < 0 || static_cast<size_t>(nIndex) + sizeof(LONG) > w->extra.size())
            return fail(ERROR_INVALID_INDEX);
        std::memcpy(&old, w->extra.data() + nIndex, sizeof old);
        std::memcpy(w->extra.data() + nIndex, &dwNewLong, sizeof dwNewLong);
        return old;
    }
}
