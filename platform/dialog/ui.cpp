#include "dialog/ui.h"

#include "dialog/controls.h"
#include "dialog/headless_renderer.h"

#include <mutex>

namespace kolm::platform {

UiRenderer& ui_renderer()
{
    // FIXME: the desktop renderer is not built yet; KOLM_UI values other
    // than "headless" get the headless one too.
    static auto* headless = new HeadlessRenderer;
    return *headless;
}

void ensure_dialog_system()
{
    static std::once_flag once;
    std::call_once(once, [] {
        register_control_classes();
        set_window_observer(&ui_renderer());
    });
}

namespace {

// Top-level windows a program shows before its first dialog call are seen
// too: the renderer is in place from the start of any program that uses
// the dialog toolkit.
[[maybe_unused]] const bool g_ready = (ensure_dialog_system(), true);

} // namespace

} // namespace kolm::platform
