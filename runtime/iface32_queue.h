// The two byte rings shared with the driver: resets, flushes, and the lock
// every change to a ring is made under.
#pragma once

#include <mutex>

#include "kolmvx.h"

void initQueues();
void flushQueue(AppyQ* q);

// Serialises a pump's bookkeeping on a queue (and the driver's, inside the
// pump's read or write call) with the resets and flushes the command paths
// make from other threads. A reset starts a new epoch: bytes a pump moved
// while it did not hold the lock belong to the old epoch and go with it.
// The lock is never held across a blocking socket call.
struct QueueGuard {
    std::mutex lock;
    unsigned epoch = 0; // guarded by lock
};
QueueGuard& queue_guard(const AppyQ* q);
