// Window rectangles: the frame around a client area, and where windows
// lie on the (virtual) screen.
//
// There is no display here, so the non-client metrics are fixed numbers of
// our own, chosen as the Windows 95 defaults at 96 dpi: an 18-pixel caption,
// a 4-pixel sizing frame, a 3-pixel dialog frame, a 1-pixel border, and
// 2 and 1 pixels for the client and static edges. A renderer that draws
// real frames keeps the client areas where this model puts them.
#pragma once

#include "user/user_area.h"

#include <optional>

namespace kolm::platform {

// Size of the virtual screen that centred windows are placed on.
constexpr int screen_width = 1024;
constexpr int screen_height = 768;

constexpr int caption_height = 18;
constexpr int sizing_frame = 4;
constexpr int dialog_frame = 3;

// How far the client area lies inside the window rectangle on each side.
RECT frame_insets(DWORD style, DWORD ex_style);

// The window rectangle in screen coordinates; nullopt when the window is
// not one of this process.
std::optional<RECT> window_screen_rect(DWORD hwnd);

} // namespace kolm::platform
