// The "STATIC" class: text a dialog shows. The SS_* alignment stays in the
// style for the renderer; the model only keeps the text.
#include "dialog/controls.h"

namespace kolm::platform {

LRESULT CALLBACK static_proc(HWND h, UINT msg, WPARAM wparam, LPARAM lparam)
{
    switch (msg) {
    case WM_GETDLGCODE:
        return DLGC_STATIC;
    case WM_LBUTTONDOWN:
    case WM_LBUTTONUP:
    case WM_LBUTTONDBLCLK:
    case WM_RBUTTONDOWN:
    case WM_RBUTTONUP:
    case WM_MOUSEMOVE: {
        auto facts = control_facts(h);
        if (facts && (facts->style & SS_NOTIFY)) {
            if (msg == WM_LBUTTONDOWN && reachable_by_user(h))
                notify_parent(h, STN_CLICKED);
            return 0;
        }
        // Without SS_NOTIFY a static text is transparent to the mouse: a
        // click on the text of a notice is a click on the notice.
        return forward_mouse_to_parent(h, msg, wparam, lparam);
    }
    default:
        return DefWindowProcA(h, msg, wparam, lparam);
    }
}

} // namespace kolm::platform
