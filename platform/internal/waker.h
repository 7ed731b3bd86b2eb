// A wake-up signal a thread can poll together with other descriptors: an
// eventfd counter. Any thread calls wake(); the owner thread polls fd() and
// calls drain() before it looks at the state it waits for, so a wake that
// comes after the look is never lost. Several wakes before a drain read as
// one.
#pragma once

#include "internal/fd.h"

namespace kolm::platform {

class Waker {
public:
    Waker();
    Waker(const Waker&) = delete;
    Waker& operator=(const Waker&) = delete;

    // False when the kernel had no descriptor to give.
    bool valid() const { return m_fd.valid(); }
    int fd() const { return m_fd.get(); }
    // Makes fd() readable until the next drain().
    void wake();
    // Makes fd() unreadable again (until the next wake).
    void drain();

private:
    Fd m_fd;
};

} // namespace kolm::platform
