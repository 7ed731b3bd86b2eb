// What the user does in kolmui, turned into the messages a Windows user's
// mouse and keyboard would have put in the program's queue. They are
// posted, so the program's own loop (IsDialogMessageA included) handles
// them on the thread that owns the window, as it would on Windows.
#include "dialog/controls.h"
#include "dialog/desktop_renderer.h"
#include "kolm/desktop_wire.h"
#include "dialog/listbox.h"
#include "user/window_input.h"

namespace kolm::platform {

namespace {

LPARAM point(long long x, long long y)
{
    return MAKELPARAM(static_cast<WORD>(static_cast<short>(x)), static_cast<WORD>(static_cast<short>(y)));
}

void post(DWORD h, UINT msg, WPARAM w, LPARAM l)
{
    PostMessageA(hwnd_from(h), msg, w, l);
}

// The click lands on the item's row counted from the top item; an item
// outside the rows shown is scrolled to the top first, as the user
// scrolls before clicking.
void click_item(DWORD listbox, int index, WPARAM keys, bool twice)
{
    auto view = listbox_view(hwnd_from(listbox));
    auto facts = control_facts(hwnd_from(listbox));
    if (!view || !facts || index < 0 || index >= static_cast<int>(view->items.size()))
        return;
    const int rows = std::max(1, static_cast<int>((facts->rect.bottom - facts->rect.top) / listbox_item_height));
    int top = view->top;
    if (index < top || index >= top + rows) {
        post(listbox, LB_SETTOPINDEX, static_cast<WPARAM>(index), 0);
        top = index;
    }
    const LPARAM at = point(2, (index - top) * listbox_item_height + 1);
    post(listbox, twice ? WM_LBUTTONDBLCLK : WM_LBUTTONDOWN, MK_LBUTTON | keys, at);
    post(listbox, WM_LBUTTONUP, keys, at);
}

} // namespace

// Only windows this renderer put on the screen, and their controls, take
// input: a stale or made-up handle from the stream changes nothing.
bool DesktopRenderer::accepts(DWORD hwnd)
{
    if (window_home(hwnd_from(hwnd)) != WindowHome::ThisProcess)
        return false;
    const DWORD top = top_level_of(hwnd);
    std::lock_guard lock(m_mutex);
    return top && m_on_screen.contains(top);
}

DWORD DesktopRenderer::key_target(DWORD top)
{
    std::lock_guard lock(m_mutex);
    auto it = m_focus.find(top);
    return it != m_focus.end() && it->second && top_level_of(it->second) == top ? it->second : top;
}

void DesktopRenderer::handle_input(const std::vector<std::string>& r)
{
    if (r.empty())
        return;
    std::vector<long long> n;
    for (size_t i = 1; i < r.size(); ++i) {
        auto v = wire::number(r[i]);
        if (!v)
            return; // every field of an input record is a number
        n.push_back(*v);
    }
    const std::string& what = r[0];
    if (what == "answer" && n.size() == 2) {
        std::lock_guard lock(m_mutex);
        auto it = m_boxes.find(static_cast<int>(n[0]));
        if (it != m_boxes.end() && it->second.answer == 0 && n[1] > 0) {
            it->second.answer = static_cast<int>(n[1]);
            it->second.waker->wake();
        }
        return;
    }
    if (n.empty() || n[0] <= 0 || n[0] > 0xFFFFFFFFLL || !accepts(static_cast<DWORD>(n[0])))
        return;
    const DWORD h = static_cast<DWORD>(n[0]);
    if (what == "press" && n.size() == 5) {
        const WPARAM keys = MK_LBUTTON | (n[3] ? MK_SHIFT : 0) | (n[4] ? MK_CONTROL : 0);
        post(h, WM_LBUTTONDOWN, keys, point(n[1], n[2]));
    } else if (what == "release" && n.size() == 3) {
        post(h, WM_LBUTTONUP, 0, point(n[1], n[2]));
    } else if (what == "lbclick" && n.size() == 5) {
        click_item(h, static_cast<int>(n[1]), (n[2] ? MK_SHIFT : 0) | (n[3] ? MK_CONTROL : 0), n[4] != 0);
    } else if (what == "key" && n.size() == 3 && n[1] > 0 && n[1] < 256) {
        // Shift goes through the queue as its own key, which is how the
        // dialog keyboard code learns of Shift+Tab.
        const DWORD target = key_target(top_level_of(h));
        if (n[2])
            post(target, WM_KEYDOWN, VK_SHIFT, 0);
        post(target, WM_KEYDOWN, static_cast<WPARAM>(n[1]), 1);
        post(target, WM_KEYUP, static_cast<WPARAM>(n[1]), 1);
        if (n[2])
            post(target, WM_KEYUP, VK_SHIFT, 0);
    } else if (what == "char" && n.size() == 2 && n[1] > 0 && n[1] < 256) {
        post(key_target(top_level_of(h)), WM_CHAR, static_cast<WPARAM>(n[1]), 1);
    } else if (what == "close" && n.size() == 1) {
        post(h, WM_SYSCOMMAND, SC_CLOSE, 0);
    }
}

} // namespace kolm::platform
