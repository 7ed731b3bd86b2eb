// Waiting on descriptors: the wake-up signal a thread polls together with
// other descriptors, and the poll itself.
#pragma once

#include "internal/waker.h"

#include <chrono>
#include <optional>

namespace kolm::platform {

using Clock = std::chrono::steady_clock;

// Readiness of one descriptor after wait_readable.
enum class Ready { Yes, TimedOut, Error };

// Polls the descriptors (readable or hung up) until one is ready or the
// deadline passes (no deadline: wait for ever). EINTR is retried with the
// time that is left. `ready` gets one flag per descriptor.
Ready poll_readable(const int* fds, bool* ready, int count, std::optional<Clock::time_point> deadline);

// GetTickCount: the clock of MSG.time and of timer callbacks.
unsigned tick_count();

} // namespace kolm::platform
