// Reaching windows of other processes through their mailboxes.
#pragma once

#include "user/user_area.h"
#include "user/wire.h"

#include <optional>
#include <string>

namespace kolm::platform {

// First top-level window of another process that matches (NULL = any),
// asking each live mailbox in turn. Mailboxes whose process has gone are
// skipped and their socket files removed.
DWORD remote_find_window(const std::optional<std::string>& cls, const std::optional<std::string>& title);

// Facts about a window of another process; nullopt when the window or its
// process is gone.
std::optional<wire::QueryReply> remote_query_window(HWND hwnd);

// SendMessageA to a window of another process, marshalling what the
// message carries. With `text`, lParam in the target is a pointer to a
// NUL-terminated copy of it (private messages and text messages only).
// Blocks until the answer comes, handling messages sent to this thread
// meanwhile. A window or process that is gone answers 0, with
// ERROR_INVALID_WINDOW_HANDLE as the last error.
LRESULT remote_send_message(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam,
                            const std::optional<std::string>* text = nullptr);

// PostMessageA to a window of another process.
BOOL remote_post_message(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam);

} // namespace kolm::platform
