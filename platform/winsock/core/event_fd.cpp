#include "event_fd.h"

namespace kolm::platform::net {

void EventFd::set()
{
    std::lock_guard lock(m_mutex);
    if (m_on || !m_waker.valid())
        return;
    m_waker.wake();
    m_on = true;
}

void EventFd::clear()
{
    std::lock_guard lock(m_mutex);
    if (!m_on || !m_waker.valid())
        return;
    m_waker.drain();
    m_on = false;
}

bool EventFd::is_set() const
{
    std::lock_guard lock(m_mutex);
    return m_on;
}

} // namespace kolm::platform::net
