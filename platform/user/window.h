// Window classes and window objects of this process, and the table that
// maps HWND values to them.
//
// HWND values are unique across the processes of a machine root: the
// process id sits in the high bits and a per-process slot index in the low
// bits. Two layouts keep the slot range wide where the pid allows it:
//   bit 31 = 0: pid (16 bits, < 65536) << 15 | index (15 bits)
//   bit 31 = 1: pid (22 bits, < 4194304) << 9 | index (9 bits)
// Index 0 and the all-ones index are never used, so no HWND is 0 and none
// equals a special value such as HWND_BROADCAST (0xFFFF). Slots are handed
// out round-robin, so a freed index is reused only after every other slot
// has been used once.
#pragma once

#include "user/user_area.h"
#include "internal/nocase.h"
#include "user/waker.h"

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kolm::platform {

class MessageQueue;

struct HwndParts {
    DWORD pid = 0;
    DWORD index = 0;
};

// 0 when pid or index is out of range.
DWORD encode_hwnd(DWORD pid, DWORD index);
std::optional<HwndParts> decode_hwnd(DWORD hwnd);
// One past the highest usable slot index for a process id.
DWORD hwnd_index_limit(DWORD pid);

inline DWORD hwnd_value(HWND h) { return HandleToDword(h); }
inline HWND hwnd_from(DWORD v) { return DwordToHandle<HWND>(v); }

// Where a window lives, seen from this process.
enum class WindowHome { None, ThisProcess, OtherProcess };
WindowHome window_home(HWND h);

struct WindowClass {
    std::string name; // case kept; compared case-insensitively
    ATOM atom = 0;
    UINT style = 0;
    WNDPROC proc = nullptr;
    int class_extra = 0;
    int window_extra = 0;
    HINSTANCE instance = nullptr;
    HICON icon = nullptr;
    HCURSOR cursor = nullptr;
    HBRUSH background = nullptr;
    std::string menu_name;
    bool system = false; // registered by the layer itself (controls)
    int live_windows = 0;
};

// State a dialog manager, a control or a renderer keeps with a window.
class WindowExtension {
public:
    virtual ~WindowExtension() = default;
};

enum class WindowState { Creating, Alive, Destroying };

// Every window gets at least this many extra bytes, so the dialog slots
// (DWL_MSGRESULT, DWL_DLGPROC, DWL_USER) exist on any window.
constexpr int min_window_extra = 64;
// Largest extra-byte area a class may ask for.
constexpr int max_window_extra = 4096;

struct Window {
    DWORD handle = 0;
    std::shared_ptr<WindowClass> cls;
    WNDPROC proc = nullptr;
    DWORD parent = 0;         // 0 for a top-level window
    DWORD owner = 0;          // owner of a top-level popup, 0 for none
    std::vector<DWORD> children; // in creation order
    UINT id = 0;              // control id of a child window
    DWORD style = 0;
    DWORD ex_style = 0;
    std::string text;
    RECT rect {};             // in parent client coordinates (screen for top-level)
    HINSTANCE instance = nullptr;
    LONG user_data = 0;
    std::vector<BYTE> extra;  // at least min_window_extra bytes
    std::shared_ptr<MessageQueue> queue; // the owner thread's queue
    DWORD thread_id = 0;
    WindowState state = WindowState::Creating;
    unsigned long long z_order = 0; // larger = created later = nearer the top
    // WM_PAINT is due: set when a top-level window is shown, or uncovered
    // by a window it owns going away; cleared when its thread takes the
    // WM_PAINT (no update regions: nothing here draws).
    bool needs_paint = false;
    std::shared_ptr<WindowExtension> extension;
};

// Everything about windows is guarded by this one lock. It is never held
// while a window procedure runs.
std::mutex& window_lock();

// With window_lock() held: the window, or nullptr.
Window* find_window_locked(DWORD handle);

// Adds a window and gives it a handle; 0 when the process has no free slot.
DWORD insert_window_locked(std::shared_ptr<Window> window);
// Removes the window from the table (and from its parent's child list).
void erase_window_locked(DWORD handle);
// Handles of every window of the table, for scans.
std::vector<DWORD> all_windows_locked();

// Window procedure call by handle; 0 when the window is gone.
LRESULT call_window_proc(HWND h, UINT msg, WPARAM wparam, LPARAM lparam);

// Makes WM_PAINT due for the window (if it is visible) and wakes its
// thread. Takes window_lock().
void invalidate_window(DWORD handle);
// Makes WM_PAINT due for the window's owner: it is what a top-level window
// that is hidden or destroyed uncovers. Takes window_lock().
void invalidate_owner(DWORD handle);

// Case-insensitive ANSI comparison, as class names and titles compare.

// Class registry of this process.
enum class ClassScope { Process, System };
std::shared_ptr<WindowClass> find_class(std::string_view name);
std::shared_ptr<WindowClass> find_class_atom(ATOM atom);
// Returns the atom, or 0 with the Win32 error in `error`.
ATOM register_class(const WNDCLASSA& wc, std::string_view name, ClassScope scope, DWORD& error);
DWORD unregister_class(std::string_view name);
// Class name from an LPCSTR that may be an integer atom.
std::optional<std::string> class_name_from(LPCSTR name);

// Top-level windows of this process that match a class and a title (NULL
// = any), topmost first.
DWORD find_local_window(const std::optional<std::string>& cls, const std::optional<std::string>& title);

// Information about a window, for the mailbox and for callers that must not
// run window procedures.
struct WindowInfo {
    DWORD handle = 0;
    DWORD thread_id = 0;
    DWORD style = 0;
    DWORD ex_style = 0;
    DWORD id = 0;
    DWORD parent = 0;
    std::string class_name;
    std::string text;
};
std::optional<WindowInfo> local_window_info(DWORD handle);

// Cookies that stand for window procedures in 32-bit GWL_WNDPROC values.
LONG window_proc_cookie(WNDPROC proc);
WNDPROC window_proc_from_cookie(LONG cookie);

// Hooks for the dialog toolkit and the renderers.
void set_window_extension(HWND h, std::shared_ptr<WindowExtension> ext);
std::shared_ptr<WindowExtension> window_extension(HWND h);

// What changed about a window, for a renderer that redraws it.
enum class WindowChange {
    Position,   // moved or resized
    ZOrder,     // stacking order or the topmost flag
    Enabled,    // WS_DISABLED set or cleared
    Activation, // became or stopped being its thread's active window
    Focus,      // gained or lost the keyboard focus
    Content,    // a control's own state: check mark, list items, selection
};

class WindowObserver {
public:
    virtual ~WindowObserver() = default;
    virtual void window_created(HWND) { }
    virtual void window_destroyed(HWND) { }
    virtual void window_shown(HWND, bool /*visible*/) { }
    virtual void window_text_changed(HWND) { }
    virtual void window_changed(HWND, WindowChange) { }
};
// One observer (a renderer) at a time; nullptr removes it. Called without
// any lock held, on the thread that made the change.
void set_window_observer(WindowObserver* observer);
WindowObserver* window_observer();
// Tells the observer, if there is one.
void notify_window_changed(HWND h, WindowChange change);

} // namespace kolm::platform
