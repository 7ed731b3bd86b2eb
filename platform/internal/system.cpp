#include "internal/system.h"

#include "internal/fd.h"

#include <atomic>
#include <mutex>

#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/wait.h>
#include <unistd.h>

namespace kolm::platform {

void Fd::reset(int fd)
{
    if (m_fd >= 0 && m_fd != fd)
        // NOTE: not retried on EINTR: on Linux the descriptor is gone even
        // then, and a retry could close one another thread just opened.
        ::close(m_fd);
    m_fd = fd;
}

namespace sys {

namespace {

template <typename T, typename Raw>
SysResult<T> result_of(Raw r)
{
    if (r < 0)
        return Failure<Errno> { errno };
    return static_cast<T>(r);
}

} // namespace

SysResult<size_t> read(int fd, void* buf, size_t len)
{
    return result_of<size_t>(retry_eintr([&] { return ::read(fd, buf, len); }));
}

SysResult<size_t> write(int fd, const void* buf, size_t len)
{
    return result_of<size_t>(retry_eintr([&] { return ::write(fd, buf, len); }));
}

SysResult<int> eventfd()
{
    return result_of<int>(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC));
}

SysResult<pid_t> waitpid(pid_t pid, int* status, int options)
{
    return result_of<pid_t>(retry_eintr([&] { return ::waitpid(pid, status, options); }));
}

namespace {

std::atomic<pid_t> g_pid{0};
thread_local pid_t t_tid = 0;

void refresh_pid()
{
    g_pid.store(::getpid(), std::memory_order_relaxed);
}

// A forked child runs on the thread that forked, under a new id.
void refresh_in_child()
{
    refresh_pid();
    t_tid = 0;
}

} // namespace

pid_t process_id()
{
    static std::once_flag once;
    std::call_once(once, [] {
        refresh_pid();
        ::pthread_atfork(nullptr, nullptr, refresh_in_child);
    });
    return g_pid.load(std::memory_order_relaxed);
}

pid_t thread_id()
{
    process_id(); // the fork handler is in place
    if (t_tid == 0)
        t_tid = ::gettid();
    return t_tid;
}

} // namespace sys

} // namespace kolm::platform
