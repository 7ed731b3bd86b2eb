// kolmui: shows the windows of one program on the X display and sends
// back what the user does there (dialog/desktop_wire.h has the stream).
// The program's control model is the truth: a widget here never changes
// its own state in answer to the user, it tells the program, and the
// program's next picture of the window shows the result.
#pragma once

#include "kolm/desktop_wire.h"

#include <cstdint>
#include <string>

class Fl_Widget;

namespace kolmui {

using kolm::platform::wire::Record;

// Window styles and control styles kolmui draws by (the values the
// program's templates use).
constexpr long ws_disabled = 0x08000000L;
constexpr long ws_border = 0x00800000L;
constexpr long ws_ex_clientedge = 0x00000200L;

void send(const Record& record);
std::string num(long long v);

// Mouse and keyboard, as the stream carries them.
void send_press(uint32_t hwnd, Fl_Widget* w);
void send_release(uint32_t hwnd, Fl_Widget* w);
void send_key(uint32_t top);

// A label as Windows shows it: "&x" underlines x (dropped here), "&&" is
// one '&'.
std::string without_mnemonics(const std::string& text);

} // namespace kolmui
