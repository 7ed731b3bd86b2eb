#include "user/waker.h"

#include "win32/kernel.h"

#include <cerrno>
#include <cstdint>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace kolm::platform {

Waker::Waker()
    : m_fd(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC))
{
}

Waker::~Waker()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

void Waker::wake()
{
    const uint64_t one = 1;
    // NOTE: EAGAIN means the counter is already huge, i.e. already signalled.
    while (::write(m_fd, &one, sizeof one) < 0 && errno == EINTR) {
    }
}

void Waker::drain()
{
    uint64_t value;
    while (::read(m_fd, &value, sizeof value) < 0 && errno == EINTR) {
    }
}

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
