#include "kernel/process_exit.h"

#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <unistd.h>

#include "win32.h"

namespace kolm::platform {

namespace {

constexpr int kMaxHandlers = 16;

// NOTE: plain storage with constant initialisation: nothing here has a
// destructor that exit() could run under a thread still using it.
constinit std::mutex g_lock;
using Handler = void (*)();
constinit Handler g_handlers[kMaxHandlers] = {};
constinit int g_count = 0; // guarded by g_lock
// Taken by the thread that ends the process and never given back.
constinit std::mutex g_ending;

} // namespace

bool at_process_exit(void (*fn)())
{
    std::lock_guard lock(g_lock);
    if (g_count == kMaxHandlers)
        return false;
    g_handlers[g_count++] = fn;
    // exit() runs each one at its own place among the static destructors,
    // as std::atexit always did; ExitProcess runs them itself and never
    // reaches exit().
    std::atexit(fn);
    return true;
}

} // namespace kolm::platform

using namespace kolm::platform;

void ExitProcess(UINT uExitCode)
{
    g_ending.lock();
    int count;
    {
        std::lock_guard lock(g_lock);
        count = g_count;
    }
    // A handler may take locks of its own area; g_lock is not held for it.
    for (int i = count; i-- > 0;)
        g_handlers[i]();
    std::fflush(nullptr);
    ::_exit(static_cast<int>(uExitCode & 0xFF));
}
