// The Linux process entry of kolm32: what Windows did before WinMain ran
// (the program's resources, the port driver loaded for the redirected
// port), then WinMain itself, and the end of the process as WinMain's
// return ends it on Windows.
#include "win32/winmain.h"

#include <cstdio>
#include <malloc.h>

#include "datawin.h"
#include "kolm/instance_lock.h"
#include "kolm/port_drivers.h"
#include "kolm/program_help.h"
#include "kolm32.h"

extern const kolm::ProgramHelp kolm32_help;

int main(int argc, char** argv)
{
    // All threads allocate from one heap. By default a thread's first
    // allocation sets up a heap of its own: a 64 MiB reservation and pages
    // the system has to supply afresh, paid by the watcher and both pumps
    // on the way to the first connection's first byte (a quarter to half a
    // millisecond here). The runtime's threads allocate little, and never
    // per byte moved, so one heap costs them no waiting.
    mallopt(M_ARENA_MAX, 1);
    if (const auto answered = kolm::linux_entry_options(argc, argv, kolm32_help))
        return *answered;
    // One runtime per machine root: a second one would take the port's
    // link over and overwrite the window handle the others find it by.
    pid_t holder = 0;
    const auto instance = kolm::platform::InstanceLock::claim("kolm32", &holder);
    if (!instance) {
        if (holder > 0)
            std::fprintf(stderr, "kolm32: already running on this machine root (process %ld)\n",
                         static_cast<long>(holder));
        else
            std::fprintf(stderr, "kolm32: cannot tell whether another runtime runs on this machine root\n");
        return 3;
    }
    RegisterKolm32Resources();
    int code;
    {
        // Held until WinMain returns: the port stays published while the
        // runtime runs and its links go with it.
        RegisterRedirectedPort(&redirectedPort);
        const auto port_drivers = kolm::platform::PortDrivers::load();
        code = kolm_run_winmain(argc, argv, WinMain);
    }
    // NOTE: the service thread, and the pumps of a connection still up,
    // run on; ExitProcess ends them where they stand (docs/threads.md).
    ExitProcess(static_cast<UINT>(code));
}
