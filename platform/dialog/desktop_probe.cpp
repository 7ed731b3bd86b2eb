// Whether a display is there, asked of the X library directly.
//
// NOTE: libX11 is loaded with dlopen rather than linked: every program of
// the layer (the runtime on a server, kolmreg, the tests) would otherwise
// need the X libraries installed just to start, and only a program that
// shows a window on a desktop ever asks. Without libX11 there is no
// desktop, which is the answer the probe gives.
#include "dialog/desktop_renderer.h"

#include <cstdlib>
#include <dlfcn.h>

namespace kolm::platform {

bool display_can_open()
{
    const char* display = std::getenv("DISPLAY");
    if (!display || !*display)
        return false;
    // Kept loaded once opened: the library registers state that does not
    // survive being unloaded.
    static void* x11 = dlopen("libX11.so.6", RTLD_NOW | RTLD_LOCAL);
    if (!x11)
        return false;
    using OpenFn = void* (*)(const char*);
    using CloseFn = int (*)(void*);
    auto open = reinterpret_cast<OpenFn>(dlsym(x11, "XOpenDisplay"));
    auto close = reinterpret_cast<CloseFn>(dlsym(x11, "XCloseDisplay"));
    if (!open || !close)
        return false;
    void* dpy = open(nullptr);
    if (!dpy)
        return false;
    close(dpy);
    return true;
}

} // namespace kolm::platform
