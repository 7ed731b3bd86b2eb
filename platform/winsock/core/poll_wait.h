// Waiting on one descriptor, cancellable by a second one.
#pragma once

#include <chrono>
#include <optional>

namespace kolm::platform::net {

using Clock = std::chrono::steady_clock;

enum class WaitResult { ready, cancelled, timed_out };

// Waits until fd reports one of events (or an error or hang-up, which poll
// always reports), cancel_fd becomes readable, or the deadline passes
// (none: no limit). EINTR is retried with the time that is left. revents,
// when given, receives what fd reported.
WaitResult wait_fd(int fd, short events, int cancel_fd, std::optional<Clock::time_point> deadline,
                   short* revents = nullptr);

// Milliseconds left until the deadline for poll: -1 without one, 0 once
// passed, rounded up so that a wait never ends early.
int poll_timeout_ms(std::optional<Clock::time_point> deadline);

} // namespace kolm::platform::net
