// Creating and destroying windows, and the default window procedure.
#pragma once

#include "user/user_area.h"

namespace kolm::platform {

struct CreateRequest {
    DWORD ex_style = 0;
    LPCSTR class_name = nullptr; // a string or an integer atom
    LPCSTR title = nullptr;
    DWORD style = 0;
    int x = 0, y = 0, width = 0, height = 0;
    HWND parent = nullptr;
    HMENU menu = nullptr;
    HINSTANCE instance = nullptr;
    LPVOID param = nullptr;
};

// NULL with the Win32 error in `error` on failure.
HWND create_window(const CreateRequest& req, DWORD& error);
// FALSE with the Win32 error in `error` on failure.
bool destroy_window(HWND hwnd, DWORD& error);
LRESULT default_window_proc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam);
// Changes WS_VISIBLE (and the minimised/maximised bits); returns whether
// the window was visible before.
bool show_window(HWND hwnd, int cmd, DWORD& error);

} // namespace kolm::platform
