// Dialog windows: creation from a template, the dialog window procedure
// around a program's DLGPROC, and the state a dialog keeps.
#pragma once

#include "dialog/dialog_resources.h"
#include "kolm/automation.h"
#include "user/window.h"

#include <memory>
#include <mutex>

namespace kolm::platform {

// WM_KOLM_DLGITEM, WM_KOLM_DLGCHILD and WM_KOLM_CLICK, which every dialog
// and button answers for automation tools, are in kolm/automation.h.

class DialogState : public WindowExtension {
public:
    DLGPROC proc = nullptr;

    // Guarded by `mutex`: EndDialog may come from a message sent by
    // another thread while the modal loop reads them.
    std::mutex mutex;
    bool ended = false;
    INT_PTR result = 0;
    DWORD saved_focus = 0;    // the control that gets the focus back on activation
    WORD default_id = 0;      // DM_SETDEFID; 0 = the template's default button or IDOK
    DWORD disabled_owner = 0; // owner a modal dialog disabled, to enable again
};

std::shared_ptr<DialogState> dialog_state(HWND h);

struct DialogRequest {
    const DialogTemplate* tpl = nullptr;
    HINSTANCE instance = nullptr;
    HWND owner = nullptr;
    DLGPROC proc = nullptr;
    LPARAM param = 0;
    bool modal = false;
    HWND disabled_owner = nullptr; // the owner a modal dialog has disabled
};

// Creates the dialog and its controls and runs WM_INITDIALOG. A modeless
// dialog whose template has WS_VISIBLE is shown; a modal one is left for
// its loop to show. NULL with the Win32 error in `error` on failure.
HWND create_dialog(const DialogRequest& req, DWORD& error);

// The control that Enter presses: the DM_SETDEFID id, else the default
// push button, else IDOK.
WORD default_button_id(HWND dlg);

// Where the focus goes back to when the dialog is activated.
void restore_dialog_focus(HWND dlg);

} // namespace kolm::platform
