// Activation, keyboard focus and enabling: the per-thread input state of
// the windows of this process.
//
// Each thread has at most one active window (a top-level window of its
// own) and one focus window (the active window or one of its
// descendants). The state is kept per thread id, so a thread never sees
// or changes another thread's focus; a window that is freed stops being
// anyone's active or focus window.
#pragma once

#include "user/user_area.h"

namespace kolm::platform {

// The top-level window above a window of this process (the window itself
// when it is top-level); 0 when it is gone.
DWORD top_level_of(DWORD hwnd);
// Whether `hwnd` is `ancestor` or lies below it.
bool is_within(DWORD ancestor, DWORD hwnd);

// Makes `hwnd` (a top-level window of the calling thread, or 0) the
// thread's active window, sending WM_ACTIVATE to the old and the new one;
// returns the previous one.
DWORD activate_window(DWORD hwnd);
// Moves the calling thread's focus to `hwnd` (0 clears it), activating
// its top-level window first; returns the previous focus window.
DWORD focus_window(DWORD hwnd);
DWORD active_window_of_thread();
DWORD focus_window_of_thread();

// What ShowWindow does to activation: a normal show activates the window,
// hiding the active window hands activation to its owner.
void activate_after_show(HWND hwnd, int cmd);

// Called while a window is freed.
void forget_input_window(DWORD hwnd);

} // namespace kolm::platform
