#include "user/window.h"
#include "internal/nocase.h"
#include "internal/system.h"

#include "user/message_queue.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <set>
#include <unistd.h>

namespace kolm::platform {

namespace {

constexpr DWORD small_pid_limit = 1u << 16;
constexpr DWORD large_pid_limit = 1u << 22;
constexpr DWORD small_index_bits = 15;
constexpr DWORD large_index_bits = 9;
constexpr DWORD large_form_bit = 0x80000000u;

class WindowTable {
public:
    WindowTable()
        : m_pid(static_cast<DWORD>(sys::process_id()))
        , m_limit(hwnd_index_limit(m_pid))
        , m_slots(m_limit)
    {
    }

    Window* find(DWORD handle)
    {
        auto parts = decode_hwnd(handle);
        if (!parts || parts->pid != current_pid() || parts->index >= m_slots.size())
            return nullptr;
        auto& slot = m_slots[parts->index];
        return slot && slot->handle == handle ? slot.get() : nullptr;
    }

    DWORD insert(std::shared_ptr<Window> window)
    {
        const DWORD pid = current_pid();
        if (pid != m_pid)
            return 0; // a forked child has no table of its own
        for (DWORD tries = 1; tries < m_limit; ++tries) {
            DWORD index = m_next;
            m_next = m_next + 1 >= m_limit ? 1 : m_next + 1;
            if (index == 0 || m_slots[index])
                continue;
            window->handle = encode_hwnd(pid, index);
            window->z_order = ++m_z_counter;
            m_slots[index] = std::move(window);
            m_live.insert(index);
            return m_slots[index]->handle;
        }
        return 0;
    }

    void erase(DWORD handle)
    {
        auto parts = decode_hwnd(handle);
        if (!parts || parts->pid != m_pid || parts->index >= m_slots.size())
            return;
        m_slots[parts->index].reset();
        m_live.erase(parts->index);
    }

    // In the order of their slots, as a walk of the table would give them.
    std::vector<DWORD> all() const
    {
        std::vector<DWORD> out;
        out.reserve(m_live.size());
        for (DWORD index : m_live)
            out.push_back(m_slots[index]->handle);
        return out;
    }

    static DWORD current_pid() { return static_cast<DWORD>(sys::process_id()); }

private:
    DWORD m_pid;
    DWORD m_limit;
    std::vector<std::shared_ptr<Window>> m_slots;
    std::set<DWORD> m_live; // indexes of the filled slots: a walk of all 32,767 slots costs more than the message it serves
    DWORD m_next = 1;
    unsigned long long m_z_counter = 0;
};

// NOTE: the process-wide state below is created on first use and never
// destroyed: the mailbox and other threads may still look at it while the
// process runs its exit handlers.
WindowTable& table()
{
    static WindowTable* t = new WindowTable;
    return *t;
}

struct ClassRegistry {
    std::vector<std::shared_ptr<WindowClass>> classes;
    ATOM next_atom = 0xC000; // string atoms live at 0xC000 and above
};

ClassRegistry& classes()
{
    static ClassRegistry* r = new ClassRegistry;
    return *r;
}

std::atomic<WindowObserver*> g_observer { nullptr };

struct ProcCookies {
    std::vector<WNDPROC> procs;
};
ProcCookies& cookies()
{
    static ProcCookies* c = new ProcCookies;
    return *c;
}
constexpr DWORD cookie_base = 0xFFFF0000u;

} // namespace

DWORD hwnd_index_limit(DWORD pid)
{
    if (pid == 0 || pid >= large_pid_limit)
        return 0;
    return pid < small_pid_limit ? (1u << small_index_bits) - 1 : (1u << large_index_bits) - 1;
}

DWORD encode_hwnd(DWORD pid, DWORD index)
{
    const DWORD limit = hwnd_index_limit(pid);
    if (limit == 0 || index == 0 || index >= limit)
        return 0;
    if (pid < small_pid_limit)
        return (pid << small_index_bits) | index;
    return large_form_bit | (pid << large_index_bits) | index;
}

std::optional<HwndParts> decode_hwnd(DWORD hwnd)
{
    HwndParts parts;
    if (hwnd & large_form_bit) {
        parts.pid = (hwnd & ~large_form_bit) >> large_index_bits;
        parts.index = hwnd & ((1u << large_index_bits) - 1);
        if (parts.pid < small_pid_limit)
            return std::nullopt; // would have used the small form
    } else {
        parts.pid = hwnd >> small_index_bits;
        parts.index = hwnd & ((1u << small_index_bits) - 1);
    }
    if (parts.pid == 0 || parts.index == 0 || parts.index >= hwnd_index_limit(parts.pid))
        return std::nullopt;
    return parts;
}

WindowHome window_home(HWND h)
{
    auto parts = decode_hwnd(hwnd_value(h));
    if (!parts || reinterpret_cast<uintptr_t>(h) > 0xFFFFFFFFu)
        return WindowHome::None;
    return parts->pid == static_cast<DWORD>(sys::process_id()) ? WindowHome::ThisProcess : WindowHome::OtherProcess;
}

std::mutex& window_lock()
{
    static std::mutex* m = new std::mutex;
    return *m;
}

Window* find_window_locked(DWORD handle)
{
    return table().find(handle);
}

void invalidate_window(DWORD handle)
{
    std::shared_ptr<MessageQueue> queue;
    {
        std::lock_guard lock(window_lock());
        Window* w = find_window_locked(handle);
        if (!w || !(w->style & WS_VISIBLE) || w->state == WindowState::Destroying || w->needs_paint)
            return;
        w->needs_paint = true;
        queue = w->queue;
    }
    if (queue)
        queue->waker()->wake();
}

void invalidate_owner(DWORD handle)
{
    DWORD owner = 0;
    {
        std::lock_guard lock(window_lock());
        if (Window* w = find_window_locked(handle))
            owner = w->owner;
    }
    if (owner)
        invalidate_window(owner);
}

DWORD insert_window_locked(std::shared_ptr<Window> window)
{
    return table().insert(std::move(window));
}

void erase_window_locked(DWORD handle)
{
    Window* w = table().find(handle);
    if (!w)
        return;
    if (w->parent) {
        if (Window* p = table().find(w->parent))
            std::erase(p->children, handle);
    }
    if (w->cls)
        --w->cls->live_windows;
    table().erase(handle);
}

std::vector<DWORD> all_windows_locked()
{
    return table().all();
}

LRESULT call_window_proc(HWND h, UINT msg, WPARAM wparam, LPARAM lparam)
{
    WNDPROC proc = nullptr;
    {
        std::lock_guard lock(window_lock());
        if (Window* w = find_window_locked(hwnd_value(h)))
            proc = w->proc;
    }
    return proc ? proc(h, msg, wparam, lparam) : 0;
}

std::optional<std::string> class_name_from(LPCSTR name)
{
    if (!name)
        return std::nullopt;
    if (IS_INTRESOURCE(name)) {
        char buf[16];
        std::snprintf(buf, sizeof buf, "#%u", static_cast<unsigned>(reinterpret_cast<uintptr_t>(name)));
        return std::string(buf);
    }
    return std::string(name);
}

std::shared_ptr<WindowClass> find_class(std::string_view name)
{
    std::lock_guard lock(window_lock());
    // Integer atoms name a registered class by its atom.
    if (name.size() > 1 && name[0] == '#') {
        unsigned long atom = std::strtoul(std::string(name.substr(1)).c_str(), nullptr, 10);
        for (auto& c : classes().classes)
            if (c->atom == atom)
                return c;
    }
    // Classes of the program win over the layer's own of the same name.
    for (auto& c : classes().classes)
        if (!c->system && equal_nocase(c->name, name))
            return c;
    for (auto& c : classes().classes)
        if (c->system && equal_nocase(c->name, name))
            return c;
    return nullptr;
}

std::shared_ptr<WindowClass> find_class_atom(ATOM atom)
{
    std::lock_guard lock(window_lock());
    for (auto& c : classes().classes)
        if (c->atom == atom)
            return c;
    return nullptr;
}

ATOM register_class(const WNDCLASSA& wc, std::string_view name, ClassScope scope, DWORD& error)
{
    constexpr size_t max_class_name = 255;
    if (name.empty() || name.size() > max_class_name || !wc.lpfnWndProc || wc.cbWndExtra < 0
        || wc.cbWndExtra > max_window_extra || wc.cbClsExtra < 0 || wc.cbClsExtra > max_window_extra) {
        error = ERROR_INVALID_PARAMETER;
        return 0;
    }
    std::lock_guard lock(window_lock());
    auto& reg = classes();
    const bool system = scope == ClassScope::System;
    for (auto& c : reg.classes) {
        if (c->system == system && equal_nocase(c->name, name)) {
            error = ERROR_CLASS_ALREADY_EXISTS;
            return 0;
        }
    }
    if (reg.next_atom == 0xFFFF) {
        error = ERROR_NOT_ENOUGH_MEMORY;
        return 0;
    }
    auto c = std::make_shared<WindowClass>();
    c->name = std::string(name);
    c->atom = reg.next_atom++;
    c->style = wc.style;
    c->proc = wc.lpfnWndProc;
    c->class_extra = wc.cbClsExtra;
    c->window_extra = wc.cbWndExtra;
    c->instance = wc.hInstance;
    c->icon = wc.hIcon;
    c->cursor = wc.hCursor;
    c->background = wc.hbrBackground;
    if (wc.lpszMenuName && !IS_INTRESOURCE(wc.lpszMenuName))
        c->menu_name = wc.lpszMenuName;
    c->system = system;
    reg.classes.push_back(c);
    return c->atom;
}

DWORD unregister_class(std::string_view name)
{
    std::lock_guard lock(window_lock());
    auto& list = classes().classes;
    auto it = std::find_if(list.begin(), list.end(), [&](const auto& c) {
        return !c->system && (equal_nocase(c->name, name) || (name.size() > 1 && name[0] == '#' && std::to_string(c->atom) == name.substr(1)));
    });
    if (it == list.end())
        return ERROR_CLASS_DOES_NOT_EXIST;
    if ((*it)->live_windows > 0)
        return ERROR_CLASS_HAS_WINDOWS;
    list.erase(it);
    return ERROR_SUCCESS;
}

DWORD find_local_window(const std::optional<std::string>& cls, const std::optional<std::string>& title)
{
    std::lock_guard lock(window_lock());
    DWORD best = 0;
    unsigned long long best_z = 0;
    for (DWORD h : table().all()) {
        Window* w = table().find(h);
        if (!w || w->parent || w->state != WindowState::Alive)
            continue;
        if (cls && !(equal_nocase(w->cls->name, *cls)
                || (cls->size() > 1 && (*cls)[0] == '#' && std::to_string(w->cls->atom) == cls->substr(1))))
            continue;
        if (title && !equal_nocase(w->text, *title))
            continue;
        if (!best || w->z_order > best_z) {
            best = h;
            best_z = w->z_order;
        }
    }
    return best;
}

std::optional<WindowInfo> local_window_info(DWORD handle)
{
    std::lock_guard lock(window_lock());
    Window* w = find_window_locked(handle);
    if (!w)
        return std::nullopt;
    WindowInfo info;
    info.handle = w->handle;
    info.thread_id = w->thread_id;
    info.style = w->style;
    info.ex_style = w->ex_style;
    info.id = w->id;
    info.parent = w->parent ? w->parent : ((w->style & WS_POPUP) ? w->owner : 0);
    info.class_name = w->cls->name;
    info.text = w->text;
    return info;
}

LONG window_proc_cookie(WNDPROC proc)
{
    std::lock_guard lock(window_lock());
    auto& list = cookies().procs;
    auto it = std::find(list.begin(), list.end(), proc);
    size_t index = static_cast<size_t>(it - list.begin());
    if (it == list.end()) {
        if (list.size() >= 0xFFFF)
            return 0;
        list.push_back(proc);
    }
    return static_cast<LONG>(cookie_base | static_cast<DWORD>(index + 1));
}

WNDPROC window_proc_from_cookie(LONG cookie)
{
    const DWORD v = static_cast<DWORD>(cookie);
    if ((v & cookie_base) != cookie_base || (v & 0xFFFF) == 0)
        return nullptr;
    std::lock_guard lock(window_lock());
    auto& list = cookies().procs;
    const size_t index = (v & 0xFFFF) - 1;
    return index < list.size() ? list[index] : nullptr;
}

void set_window_extension(HWND h, std::shared_ptr<WindowExtension> ext)
{
    std::shared_ptr<WindowExtension> old;
    std::lock_guard lock(window_lock());
    if (Window* w = find_window_locked(hwnd_value(h))) {
        old = std::move(w->extension);
        w->extension = std::move(ext);
    }
}

std::shared_ptr<WindowExtension> window_extension(HWND h)
{
    std::lock_guard lock(window_lock());
    Window* w = find_window_locked(hwnd_value(h));
    return w ? w->extension : nullptr;
}

void set_window_observer(WindowObserver* observer)
{
    g_observer.store(observer);
}

WindowObserver* window_observer()
{
    return g_observer.load();
}

void notify_window_changed(HWND h, WindowChange change)
{
    if (auto* o = window_observer())
        o->window_changed(h, change);
}

} // namespace kolm::platform
