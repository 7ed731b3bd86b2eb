// The control window classes ("BUTTON", "STATIC", "EDIT", "LISTBOX") and
// the dialog class, registered once as the layer's own classes, and what
// the controls share.
#pragma once

#include "dialog/dialog_area.h"
#include "user/window.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kolm::platform {

// Registers the control classes and the dialog class (once per process).
void register_control_classes();

LRESULT CALLBACK button_proc(HWND, UINT, WPARAM, LPARAM);
LRESULT CALLBACK static_proc(HWND, UINT, WPARAM, LPARAM);
LRESULT CALLBACK edit_proc(HWND, UINT, WPARAM, LPARAM);
LRESULT CALLBACK listbox_proc(HWND, UINT, WPARAM, LPARAM);
LRESULT CALLBACK dialog_window_proc(HWND, UINT, WPARAM, LPARAM);

// The state object a control keeps with its window, or nullptr.
template <typename State>
std::shared_ptr<State> state_of(HWND h)
{
    return std::dynamic_pointer_cast<State>(window_extension(h));
}

// Facts read without running any window procedure.
struct ControlFacts {
    DWORD style = 0;
    WORD id = 0;
    HWND parent = nullptr;
    RECT rect {}; // in the parent's client coordinates
    std::string class_name;
    std::string text;
};
std::optional<ControlFacts> control_facts(HWND h);

// What a button and an edit show, read under the control's own lock so
// that a renderer's thread can take it while the owner thread works.
struct ButtonView {
    UINT check = BST_UNCHECKED;
    bool pushed = false;
};
std::optional<ButtonView> button_view(HWND button);
struct EditView {
    size_t sel_start = 0; // selection [start, end) in bytes of the text; the caret is at end
    size_t sel_end = 0;
};
std::optional<EditView> edit_view(HWND edit);

// WM_COMMAND with the control's id and `code` to its parent.
void notify_parent(HWND control, WORD code);

// Whether the window and every parent above it are enabled: what decides
// whether the user can reach it.
bool reachable_by_user(HWND h);

// The control's children-of-parent neighbours, in creation (tab) order.
std::vector<HWND> siblings_of(HWND h);
// The children of a window of this process, in creation (tab) order.
std::vector<HWND> child_windows(HWND parent);

// A mouse message moved from a control to its parent, with the point in
// the parent's client coordinates: what a control the mouse passes
// through (a static text, a group box) does.
LRESULT forward_mouse_to_parent(HWND h, UINT msg, WPARAM wparam, LPARAM lparam);

} // namespace kolm::platform
