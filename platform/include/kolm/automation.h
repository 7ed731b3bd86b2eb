// What a tool that drives the programs' dialogs from another process needs
// to know of them: the messages every dialog and button answers for it, the
// height of a list box item for turning an item into a click, and how the
// screen log writes a text.
#pragma once

#include <string>
#include <string_view>

#include "win32/types.h"

namespace kolm::platform {

// Messages of our own that every dialog answers, so that another process
// can reach a dialog's controls by id (GetDlgItem on a dialog of another
// process) and list them. They lie in the system range below WM_USER,
// where no program's private message can be, and carry only numbers.
constexpr UINT WM_KOLM_DLGITEM = 0x03F0;  // wParam: control id; answers its HWND or 0
constexpr UINT WM_KOLM_DLGCHILD = 0x03F1; // wParam: index; answers the nth child's HWND or 0
// To a button: a click made by an automation tool. As BM_CLICK, but the
// sender is answered as soon as a modal dialog or message box that the
// click opens is up (ReplyWhenModal in the message pump).
constexpr UINT WM_KOLM_CLICK = 0x03F2;

// Height of one list box item in pixels (the 8-point font's line), for
// turning a click's y coordinate into an item.
constexpr int listbox_item_height = 13;

// A text as the screen log writes it between quotes.
std::string escape_screen_text(std::string_view text);

} // namespace kolm::platform
