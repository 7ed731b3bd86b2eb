#include "dialog/controls.h"

#include <mutex>

namespace kolm::platform {

void register_control_classes()
{
    static std::once_flag once;
    std::call_once(once, [] {
        struct Entry {
            const char* name;
            WNDPROC proc;
            UINT style;
        };
        const Entry entries[] = {
            { "BUTTON", button_proc, CS_DBLCLKS | CS_PARENTDC | CS_HREDRAW | CS_VREDRAW },
            { "STATIC", static_proc, CS_DBLCLKS | CS_PARENTDC },
            { "EDIT", edit_proc, CS_DBLCLKS | CS_PARENTDC },
            { "LISTBOX", listbox_proc, CS_DBLCLKS | CS_PARENTDC },
            { "#32770", dialog_window_proc, CS_SAVEBITS | CS_DBLCLKS },
        };
        for (const auto& e : entries) {
            WNDCLASSA wc {};
            wc.style = e.style;
            wc.lpfnWndProc = e.proc;
            wc.cbWndExtra = DLGWINDOWEXTRA;
            wc.lpszClassName = e.name;
            DWORD error = 0;
            register_class(wc, e.name, ClassScope::System, error);
        }
    });
}

std::optional<ControlFacts> control_facts(HWND h)
{
    std::lock_guard lock(window_lock());
    Window* w = find_window_locked(hwnd_value(h));
    if (!w)
        return std::nullopt;
    ControlFacts f;
    f.style = w->style;
    f.id = static_cast<WORD>(w->id);
    f.parent = hwnd_from(w->parent);
    f.rect = w->rect;
    f.class_name = w->cls->name;
    f.text = w->text;
    return f;
}

void notify_parent(HWND control, WORD code)
{
    auto facts = control_facts(control);
    if (!facts || !facts->parent)
        return;
    SendMessageA(facts->parent, WM_COMMAND, MAKEWPARAM(facts->id, code), reinterpret_cast<LPARAM>(control));
}

bool reachable_by_user(HWND h)
{
    std::lock_guard lock(window_lock());
    for (Window* w = find_window_locked(hwnd_value(h)); w; w = w->parent ? find_window_locked(w->parent) : nullptr)
        if (w->style & WS_DISABLED)
            return false;
    return find_window_locked(hwnd_value(h)) != nullptr;
}

std::vector<HWND> siblings_of(HWND h)
{
    std::vector<HWND> out;
    std::lock_guard lock(window_lock());
    Window* w = find_window_locked(hwnd_value(h));
    Window* p = w && w->parent ? find_window_locked(w->parent) : nullptr;
    if (!p)
        return out;
    for (DWORD c : p->children)
        out.push_back(hwnd_from(c));
    return out;
}

std::vector<HWND> child_windows(HWND parent)
{
    std::vector<HWND> out;
    std::lock_guard lock(window_lock());
    if (Window* p = find_window_locked(hwnd_value(parent)))
        for (DWORD c : p->children)
            out.push_back(hwnd_from(c));
    return out;
}

LRESULT forward_mouse_to_parent(HWND h, UINT msg, WPARAM wparam, LPARAM lparam)
{
    auto facts = control_facts(h);
    if (!facts || !facts->parent)
        return 0;
    const int x = static_cast<short>(LOWORD(lparam)) + static_cast<int>(facts->rect.left);
    const int y = static_cast<short>(HIWORD(lparam)) + static_cast<int>(facts->rect.top);
    return SendMessageA(facts->parent, msg, wparam, MAKELPARAM(static_cast<WORD>(x), static_cast<WORD>(y)));
}

} // namespace kolm::platform
