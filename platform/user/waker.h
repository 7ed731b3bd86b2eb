// A wake-up signal a thread can poll together with other descriptors.
#pragma once

#include <chrono>
#include <optional>

namespace kolm::platform {

using Clock = std::chrono::steady_clock;

// An eventfd: other threads call wake(); the owner polls fd() and calls
// drain() before it looks at the state it waits for, so a wake that comes
// after the look is never lost.
class Waker {
public:
    Waker();
    ~Waker();
    Waker(const Waker&) = delete;
    Waker& operator=(const Waker&) = delete;

    bool valid() const { return m_fd >= 0; }
    int fd() const { return m_fd; }
    void wake();
    void drain();

private:
    int m_fd = -1;
};

// Readiness of one descriptor after wait_readable.
enum class Ready { Yes, TimedOut, Error };

// Polls the descriptors (readable or hung up) until one is ready or the
// deadline passes (no deadline: wait for ever). EINTR is retried with the
// time that is left. `ready` gets one flag per descriptor.
Ready poll_readable(const int* fds, bool* ready, int count, std::optional<Clock::time_point> deadline);

// GetTickCount: the clock of MSG.time and of timer callbacks.
unsigned tick_count();

} // namespace kolm::platform
