#include "internal/waker.h"

#include "internal/system.h"

#include <cstdint>

namespace kolm::platform {

Waker::Waker()
    : m_fd(sys::eventfd().value_or(-1))
{
}

void Waker::wake()
{
    const uint64_t one = 1;
    // NOTE: EAGAIN means the counter is already huge, i.e. already signalled.
    (void)sys::write(m_fd.get(), &one, sizeof one);
}

void Waker::drain()
{
    uint64_t value;
    (void)sys::read(m_fd.get(), &value, sizeof value);
}

} // namespace kolm::platform
