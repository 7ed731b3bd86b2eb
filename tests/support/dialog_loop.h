// The message loop of a test peer that shows one modeless dialog: keys go
// through the dialog's keyboard handling, as in the programs themselves.
#pragma once

#include "win32.h"

namespace kolm::test {

inline void run_dialog_loop(HWND dlg)
{
    MSG m;
    while (GetMessageA(&m, nullptr, 0, 0) > 0) {
        if (!IsWindow(dlg) || !IsDialogMessageA(dlg, &m)) {
            TranslateMessage(&m);
            DispatchMessageA(&m);
        }
    }
}

} // namespace kolm::test
