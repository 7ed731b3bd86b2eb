#include "dialog/ui.h"

#include "dialog/controls.h"
#include "dialog/desktop_renderer.h"
#include "dialog/headless_renderer.h"

#include <cstdlib>
#include <cstring>
#include <mutex>

namespace kolm::platform {

UiRenderer& ui_renderer()
{
    static UiRenderer* renderer = [] () -> UiRenderer* {
        const char* ui = std::getenv("KOLM_UI");
        if (ui && std::strcmp(ui, "headless") == 0)
            return new HeadlessRenderer;
        if (ui && std::strcmp(ui, "desktop") == 0)
            return new DesktopRenderer(DesktopRequest::Explicit);
        const char* display = std::getenv("DISPLAY");
        if (display && *display)
            return new DesktopRenderer(DesktopRequest::Auto);
        return new HeadlessRenderer;
    }();
    return *renderer;
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
