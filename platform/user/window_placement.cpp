// Moving, sizing and restacking windows; reading their rectangles.
#include "user/window_geometry.h"
#include "user/window_input.h"
#include "user/window_lifecycle.h"
#include "user/window.h"

#include <algorithm>
#include <cstdint>
#include <vector>

using namespace kolm::platform;

namespace kolm::platform {

RECT frame_insets(DWORD style, DWORD ex_style)
{
    int border = 0;
    if (style & WS_THICKFRAME)
        border = sizing_frame;
    else if ((style & WS_DLGFRAME) || (ex_style & WS_EX_DLGMODALFRAME))
        border = dialog_frame;
    else if (style & WS_BORDER)
        border = 1;
    if (ex_style & WS_EX_CLIENTEDGE)
        border += 2;
    if (ex_style & WS_EX_STATICEDGE)
        border += 1;
    const int caption = (style & WS_CAPTION) == WS_CAPTION ? caption_height : 0;
    return RECT { border, border + caption, border, border };
}

namespace {

std::optional<RECT> screen_rect_locked(DWORD hwnd)
{
    Window* w = find_window_locked(hwnd);
    if (!w)
        return std::nullopt;
    RECT r = w->rect;
    if (w->parent) {
        auto parent = screen_rect_locked(w->parent);
        Window* p = find_window_locked(w->parent);
        if (!parent || !p)
            return std::nullopt;
        const RECT in = frame_insets(p->style, p->ex_style);
        const LONG dx = parent->left + in.left;
        const LONG dy = parent->top + in.top;
        r.left += dx;
        r.right += dx;
        r.top += dy;
        r.bottom += dy;
    }
    return r;
}

} // namespace

std::optional<RECT> window_screen_rect(DWORD hwnd)
{
    std::lock_guard lock(window_lock());
    return screen_rect_locked(hwnd);
}

} // namespace kolm::platform

namespace {

BOOL fail(DWORD error)
{
    SetLastError(error);
    return FALSE;
}

enum class Band { Normal, Topmost };

Band band_of(const Window& w)
{
    return (w.ex_style & WS_EX_TOPMOST) ? Band::Topmost : Band::Normal;
}

// Top-level windows of this process from the bottom of the stack to the
// top: every topmost window lies above every other one.
std::vector<Window*> stack_locked()
{
    std::vector<Window*> out;
    for (DWORD h : all_windows_locked())
        if (Window* w = find_window_locked(h); w && !w->parent)
            out.push_back(w);
    std::stable_sort(out.begin(), out.end(), [](const Window* a, const Window* b) {
        if (band_of(*a) != band_of(*b))
            return band_of(*a) == Band::Normal;
        return a->z_order < b->z_order;
    });
    return out;
}

// Puts a top-level window at its new place in the stack. Returns whether
// its place or its topmost flag changed.
bool restack_locked(Window& w, HWND after)
{
    const auto special = reinterpret_cast<intptr_t>(after);
    const DWORD old_ex = w.ex_style;
    auto stack = stack_locked();
    const auto before_order = stack;
    std::erase(stack, &w);

    Band band = band_of(w);
    std::ptrdiff_t pos = -1; // index in `stack` to insert at
    auto top_of = [&](Band b) {
        std::ptrdiff_t i = 0;
        while (i < static_cast<std::ptrdiff_t>(stack.size()) && (b == Band::Topmost || band_of(*stack[i]) == Band::Normal))
            ++i;
        return i;
    };
    if (special == reinterpret_cast<intptr_t>(HWND_TOPMOST)) {
        band = Band::Topmost;
        pos = top_of(Band::Topmost);
    } else if (special == reinterpret_cast<intptr_t>(HWND_NOTOPMOST)) {
        if (band == Band::Normal)
            return false; // already among the normal windows: stays where it is
        band = Band::Normal;
        pos = top_of(Band::Normal);
    } else if (special == reinterpret_cast<intptr_t>(HWND_TOP)) {
        pos = top_of(band);
    } else if (special == reinterpret_cast<intptr_t>(HWND_BOTTOM)) {
        band = Band::Normal;
        pos = 0;
    } else {
        auto it = std::find_if(stack.begin(), stack.end(),
                               [&](const Window* x) { return x->handle == hwnd_value(after); });
        if (it == stack.end())
            return false;
        band = band_of(**it);
        pos = it - stack.begin(); // directly below `after`
    }
    if (band == Band::Topmost)
        w.ex_style |= WS_EX_TOPMOST;
    else
        w.ex_style &= ~static_cast<DWORD>(WS_EX_TOPMOST);
    stack.insert(stack.begin() + pos, &w);
    // Renumbering from 1 keeps every value at or below the table's counter,
    // so a window created later still starts on top.
    unsigned long long z = 0;
    for (Window* x : stack)
        x->z_order = ++z;
    stack = stack_locked();
    return stack != before_order || w.ex_style != old_ex;
}

} // namespace

BOOL SetWindowPos(HWND hWnd, HWND hWndInsertAfter, int X, int Y, int cx, int cy, UINT uFlags)
{
    if (window_home(hWnd) != WindowHome::ThisProcess)
        return fail(window_home(hWnd) == WindowHome::None ? ERROR_INVALID_WINDOW_HANDLE : ERROR_ACCESS_DENIED);
    bool moved = false, sized = false, restacked = false;
    RECT client {};
    {
        std::lock_guard lock(window_lock());
        Window* w = find_window_locked(hwnd_value(hWnd));
        if (!w)
            return fail(ERROR_INVALID_WINDOW_HANDLE);
        RECT r = w->rect;
        if (!(uFlags & SWP_NOMOVE)) {
            moved = r.left != X || r.top != Y;
            const LONG width = r.right - r.left, height = r.bottom - r.top;
            r = RECT { X, Y, X + width, Y + height };
        }
        if (!(uFlags & SWP_NOSIZE)) {
            const LONG width = std::max(cx, 0), height = std::max(cy, 0);
            sized = width != r.right - r.left || height != r.bottom - r.top;
            r.right = r.left + width;
            r.bottom = r.top + height;
        }
        w->rect = r;
        // Children keep their creation order, which is also the dialog
        // tab order; only top-level windows are restacked.
        if (!(uFlags & SWP_NOZORDER) && !w->parent)
            restacked = restack_locked(*w, hWndInsertAfter);
        const RECT in = frame_insets(w->style, w->ex_style);
        client = RECT { r.left + in.left, r.top + in.top, r.right - in.right, r.bottom - in.bottom };
    }
    if (uFlags & SWP_HIDEWINDOW) {
        DWORD ignored = 0;
        show_window(hWnd, SW_HIDE, ignored);
    } else if (uFlags & SWP_SHOWWINDOW) {
        DWORD ignored = 0;
        show_window(hWnd, SW_SHOWNA, ignored);
    }
    if (restacked)
        notify_window_changed(hWnd, WindowChange::ZOrder);
    if (moved || sized)
        notify_window_changed(hWnd, WindowChange::Position);
    if (moved)
        SendMessageA(hWnd, WM_MOVE, 0, MAKELPARAM(static_cast<WORD>(client.left), static_cast<WORD>(client.top)));
    if (sized)
        SendMessageA(hWnd, WM_SIZE, SIZE_RESTORED,
                     MAKELPARAM(static_cast<WORD>(std::max<LONG>(client.right - client.left, 0)),
                                static_cast<WORD>(std::max<LONG>(client.bottom - client.top, 0))));
    // NOTE: a hidden window is not activated: it would take the focus from
    // the window the user works in without showing anything.
    if (!(uFlags & (SWP_NOACTIVATE | SWP_HIDEWINDOW)) && IsWindowVisible(hWnd) && !GetParent(hWnd))
        activate_window(hwnd_value(hWnd));
    return TRUE;
}

BOOL MoveWindow(HWND hWnd, int X, int Y, int nWidth, int nHeight, BOOL)
{
    return SetWindowPos(hWnd, nullptr, X, Y, nWidth, nHeight, SWP_NOZORDER | SWP_NOACTIVATE);
}

BOOL GetWindowRect(HWND hWnd, LPRECT lpRect)
{
    if (!lpRect)
        return fail(ERROR_NOACCESS);
    if (window_home(hWnd) != WindowHome::ThisProcess)
        return fail(window_home(hWnd) == WindowHome::None ? ERROR_INVALID_WINDOW_HANDLE : ERROR_ACCESS_DENIED);
    auto r = window_screen_rect(hwnd_value(hWnd));
    if (!r)
        return fail(ERROR_INVALID_WINDOW_HANDLE);
    *lpRect = *r;
    return TRUE;
}

BOOL GetClientRect(HWND hWnd, LPRECT lpRect)
{
    if (!lpRect)
        return fail(ERROR_NOACCESS);
    if (window_home(hWnd) != WindowHome::ThisProcess)
        return fail(window_home(hWnd) == WindowHome::None ? ERROR_INVALID_WINDOW_HANDLE : ERROR_ACCESS_DENIED);
    std::lock_guard lock(window_lock());
    Window* w = find_window_locked(hwnd_value(hWnd));
    if (!w)
        return fail(ERROR_INVALID_WINDOW_HANDLE);
    const RECT in = frame_insets(w->style, w->ex_style);
    const LONG width = w->rect.right - w->rect.left - in.left - in.right;
    const LONG height = w->rect.bottom - w->rect.top - in.top - in.bottom;
    *lpRect = RECT { 0, 0, std::max<LONG>(width, 0), std::max<LONG>(height, 0) };
    return TRUE;
}
