// The renderer that shows the model to the user, chosen once per process.
//
// KOLM_UI=headless forces the headless renderer (the screen log and
// standard error). KOLM_UI=desktop asks for the desktop renderer and says
// so on standard error when it falls back; without either, the desktop is
// used when DISPLAY names one that opens. Either way the screen log gets
// every line.
#pragma once

#include "dialog/dialog_area.h"
#include "user/window.h"

#include <string>
#include <vector>

namespace kolm::platform {

// A message box as the program asked for it.
struct MessageBoxRequest {
    HWND owner = nullptr;
    std::string text;
    std::string caption;
    UINT type = 0;
    std::vector<int> buttons; // IDOK, IDCANCEL, ... in the order shown
    int default_answer = IDOK;
    // An answer scripted for this box (KOLM_MSGBOX_ANSWERS or the answer
    // file), already checked against `buttons`; 0 when there is none.
    int scripted_answer = 0;
    // A scripted answer that is not one of the box's buttons, as written.
    std::string refused_answer;
};

class UiRenderer : public WindowObserver {
public:
    // Shows the box and returns the button the user chose. Must return
    // without waiting on the caller's message queue.
    virtual int message_box(const MessageBoxRequest& request) = 0;
};

// Registers the control classes and installs the renderer as the window
// observer; every dialog function calls it, and so does start-up.
void ensure_dialog_system();
UiRenderer& ui_renderer();

} // namespace kolm::platform
