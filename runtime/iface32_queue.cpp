// The two byte rings shared with the driver.
#include "iface32_queue.h"

#include "shared.h"

namespace {

QueueGuard g_toNetGuard;
QueueGuard g_fromNetGuard;
QueueGuard g_otherGuard; // rings other than the two of the port (tests)

void reset_locked(AppyQ* q, bool whole)
{
    if (whole) {
        q->size = initQ.size;
        q->locked = initQ.locked;
    }
    q->count = 0;
    q->tail = 0;
    q->head = 0;
    ++queue_guard(q).epoch;
}

} // namespace

QueueGuard& queue_guard(const AppyQ* q)
{
    if (q == &toNetQ)
        return g_toNetGuard;
    if (q == &fromNetQ)
        return g_fromNetGuard;
    return g_otherGuard;
}

void initQueues()
{
    // The ring storage itself is not cleared.
    {
        std::lock_guard lock(g_fromNetGuard.lock);
        reset_locked(&fromNetQ, true);
    }
    std::lock_guard lock(g_toNetGuard.lock);
    reset_locked(&toNetQ, true);
}

void flushQueue(AppyQ* q)
{
    // size and locked are the driver's business and stay as they are.
    std::lock_guard lock(queue_guard(q).lock);
    reset_locked(q, false);
}
