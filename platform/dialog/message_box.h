// Message boxes: their buttons and answers, and the answers a test or an
// operator scripts for a program that runs without a display.
//
// Scripted answers, taken one per box in this order:
//   1. KOLM_MSGBOX_ANSWERS, a comma-separated list ("IDNO,IDOK"), used in
//      order by the boxes of the process (a changed list starts over);
//   2. run/msgbox-answers in the machine root, one answer per line; each
//      box takes (and removes) the first line, so a test can script the
//      boxes of a program that is already running.
// An answer is a button's name with or without "ID" ("IDYES", "yes") or
// its number ("6"). Without a scripted answer a box takes its default
// button; a scripted answer that is not one of the box's buttons is
// refused (the screen log line says so) and the default button taken.
#pragma once

#include "dialog/dialog_area.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kolm::platform {

// The buttons of an MB_* button set, in order; empty for an unknown set.
std::vector<int> message_box_buttons(UINT type);
const char* message_box_buttons_name(UINT type);
// nullptr when the box has no icon.
const char* message_box_icon_name(UINT type);
// "IDOK" for IDOK, and so on.
std::string answer_name(int answer);
std::optional<int> parse_answer(std::string_view text);

// The next scripted answer, as written; nullopt when none is left.
std::optional<std::string> take_scripted_answer();

} // namespace kolm::platform
