#include "user/waker.h"

#include "win32/kernel.h"

#include <cerrno>
#include <cstdint>
#include <poll.h>

#include "internal/thread_plug.h"

namespace kolm::platform {

Ready poll_readable(const int* fds, bool* ready, int count, std::optional<Clock::time_point> deadline)
{
    constexpr int max_fds = 4;
    if (count < 1 || count > max_fds)
        return Ready::Error;
    pollfd pfds[max_fds];
    for (int i = 0; i < count; ++i) {
        pfds[i] = pollfd { fds[i], POLLIN, 0 };
        ready[i] = false;
    }
    for (;;) {
        int timeout = -1;
        if (deadline) {
            auto left = std::chrono::ceil<std::chrono::milliseconds>(*deadline - Clock::now()).count();
            timeout = left <= 0 ? 0 : (left > INT32_MAX ? INT32_MAX : static_cast<int>(left));
        }
        if (timeout != 0)
            sys::unplug();
        int n = ::poll(pfds, static_cast<nfds_t>(count), timeout);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return Ready::Error;
        }
        if (n == 0) {
            if (!deadline || Clock::now() >= *deadline)
                return Ready::TimedOut;
            continue;
        }
        for (int i = 0; i < count; ++i)
            ready[i] = (pfds[i].revents & (POLLIN | POLLHUP | POLLERR | POLLNVAL)) != 0;
        return Ready::Yes;
    }
}

unsigned tick_count()
{
    return GetTickCount();
}

} // namespace kolm::platform
