// Messages with a text lParam, to any window of any process: what an
// automation tool (kolmwin) or a test uses to hand a window a string.
#pragma once

#include "win32/types.h"

#include <string_view>

namespace kolm::platform {

// Sends `message` with lParam pointing to a NUL-terminated copy of `text`
// for the duration of the call; in another process the copy is made there.
// Private messages (WM_USER and above) and messages that take text (such
// as WM_SETTEXT or LB_ADDSTRING) can carry it. Returns the window's answer;
// 0 with ERROR_INVALID_WINDOW_HANDLE when the window is gone.
LRESULT send_text_message(HWND hwnd, UINT message, WPARAM wparam, std::string_view text);

} // namespace kolm::platform
