// GetTickCount and Sleep.
#include <cerrno>
#include <sched.h>
#include <time.h>
#include <unistd.h>

#include "internal/thread_plug.h"
#include "win32.h"

DWORD GetTickCount()
{
    // Milliseconds since boot, as on Windows; the same clock in every
    // process. Only the low 32 bits are kept, so it wraps after 49.7 days.
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    const uint64_t ms = static_cast<uint64_t>(now.tv_sec) * 1000u + static_cast<uint64_t>(now.tv_nsec) / 1000000u;
    return static_cast<DWORD>(ms);
}

void Sleep(DWORD dwMilliseconds)
{
    kolm::platform::sys::unplug();
    if (dwMilliseconds == 0) {
        ::sched_yield();
        return;
    }
    if (dwMilliseconds == INFINITE) {
        for (;;)
            ::pause();
    }
    // An absolute deadline: a signal that interrupts the sleep does not
    // shorten it, and retrying does not add drift.
    timespec deadline{};
    ::clock_gettime(CLOCK_MONOTONIC, &deadline);
    deadline.tv_sec += dwMilliseconds / 1000;
    deadline.tv_nsec += static_cast<long>(dwMilliseconds % 1000) * 1000000L;
    if (deadline.tv_nsec >= 1000000000L) {
        deadline.tv_sec += 1;
        deadline.tv_nsec -= 1000000000L;
    }
    while (::clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &deadline, nullptr) == EINTR) {
    }
}
