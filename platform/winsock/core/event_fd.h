// An eventfd used as a level: readable (POLLIN) exactly while it is set.
//
// User-space sockets mirror their state ("a datagram is queued", "the
// socket is being closed") in one of these, so that poll over kernel
// descriptors covers kernel and user-space sockets alike.
#pragma once

#include "internal/waker.h"

#include <mutex>

namespace kolm::platform::net {

class EventFd {
public:
    EventFd() = default;
    EventFd(const EventFd&) = delete;
    EventFd& operator=(const EventFd&) = delete;

    // False when the kernel had no descriptor to give.
    bool valid() const { return m_waker.valid(); }
    int fd() const { return m_waker.fd(); }

    void set();
    void clear();
    void assign(bool on) { on ? set() : clear(); }
    bool is_set() const;

private:
    Waker m_waker;
    mutable std::mutex m_mutex;
    bool m_on = false; // guarded by m_mutex; mirrors the counter being non-zero
};

} // namespace kolm::platform::net
