#include "poll_wait.h"

#include <cerrno>
#include <climits>
#include <poll.h>

#include "internal/thread_plug.h"

namespace kolm::platform::net {

int poll_timeout_ms(std::optional<Clock::time_point> deadline)
{
    if (!deadline)
        return -1;
    const auto left = *deadline - Clock::now();
    if (left <= Clock::duration::zero())
        return 0;
    const auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
    return ms > INT_MAX ? INT_MAX : static_cast<int>(ms);
}

WaitResult wait_fd(int fd, short events, int cancel_fd, std::optional<Clock::time_point> deadline,
                   short* revents)
{
    sys::unplug();
    for (;;) {
        pollfd fds[2] = {{fd, events, 0}, {cancel_fd, POLLIN, 0}};
        const int n = ::poll(fds, 2, poll_timeout_ms(deadline));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            // Only a programming fault (EFAULT, EINVAL) or ENOMEM gets here;
            // report the descriptor as ready so the caller's own call
            // returns the real error instead of waiting forever.
            if (revents)
                *revents = POLLERR;
            return WaitResult::ready;
        }
        if (fds[1].revents)
            return WaitResult::cancelled;
        if (fds[0].revents) {
            if (revents)
                *revents = fds[0].revents;
            return WaitResult::ready;
        }
        if (n == 0 && deadline && Clock::now() >= *deadline)
            return WaitResult::timed_out;
    }
}

} // namespace kolm::platform::net
