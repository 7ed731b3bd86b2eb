#include "event_fd.h"

#include <cerrno>
#include <cstdint>
#include <sys/eventfd.h>
#include <unistd.h>

namespace kolm::platform::net {

EventFd::EventFd() : m_fd(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}

EventFd::~EventFd()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

void EventFd::set()
{
    std::lock_guard lock(m_mutex);
    if (m_on || m_fd < 0)
        return;
    const uint64_t one = 1;
    ssize_t n;
    do {
        n = ::write(m_fd, &one, sizeof one);
    } while (n < 0 && errno == EINTR);
    m_on = true;
}

void EventFd::clear()
{
    std::lock_guard lock(m_mutex);
    if (!m_on || m_fd < 0)
        return;
    uint64_t value;
    ssize_t n;
    do {
        n = ::read(m_fd, &value, sizeof value);
    } while (n < 0 && errno == EINTR);
    m_on = false;
}

bool EventFd::is_set() const
{
    std::lock_guard lock(m_mutex);
    return m_on;
}

} // namespace kolm::platform::net
