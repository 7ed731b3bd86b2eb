// The dialog verbs of kolmwin: a dialog of any process driven by control id.
#pragma once

#include <string>
#include <vector>

namespace kolmwin {

using Args = std::vector<std::string>;

int cmd_controls(const Args& args);
int cmd_items(const Args& args);
int cmd_dlgtext(const Args& args);
int cmd_settext(const Args& args);
int cmd_click(const Args& args);
int cmd_select(const Args& args);

} // namespace kolmwin
