// What a renderer or an automation tool does to a list box as its user:
// clicks on items. Programs use the LB_* messages instead.
#pragma once

#include "dialog/dialog_area.h"
#include "kolm/automation.h"

#include <optional>
#include <string>
#include <vector>

namespace kolm::platform {

// listbox_item_height (kolm/automation.h): one item's height in pixels.

// The user clicks item `index` (Shift and Ctrl as given): the selection
// changes as the list box's style says, the list box takes the focus, and
// with LBS_NOTIFY its parent gets LBN_SELCHANGE. False when the list box
// is disabled or the index is not an item.
bool listbox_user_click(HWND listbox, int index, bool shift = false, bool ctrl = false);
// A double click: the click, then LBN_DBLCLK (with LBS_NOTIFY).
bool listbox_user_double_click(HWND listbox, int index);

// A copy of what the list box shows, for a renderer.
struct ListBoxView {
    std::vector<std::string> items;
    std::vector<bool> selected;
    int caret = 0;
    int top = 0;
    bool redraw = true;
};
std::optional<ListBoxView> listbox_view(HWND listbox);

} // namespace kolm::platform
