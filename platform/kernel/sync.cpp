#include "kernel/sync.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>

#include "internal/process_lifetime.h"

namespace kolm::platform {

namespace {

struct SyncMutex {
    std::mutex mutex;
};

std::mutex& sync_mutex()
{
    return process_lifetime<SyncMutex>().mutex;
}

} // namespace

std::unique_lock<std::mutex> sync_lock()
{
    return std::unique_lock(sync_mutex());
}

struct Waiter {
    std::span<const std::shared_ptr<Waitable>> objects;
    WaitMode mode;
    std::condition_variable wake;
    bool done = false;
    size_t index = 0;

    // Takes the objects when the wait can end now. Sync lock held.
    bool try_satisfy_locked()
    {
        if (mode == WaitMode::Any) {
            for (size_t i = 0; i < objects.size(); ++i) {
                if (objects[i]->signalled_locked()) {
                    objects[i]->acquire_locked();
                    index = i;
                    done = true;
                    return true;
                }
            }
            return false;
        }
        for (const auto& o : objects) {
            if (!o->signalled_locked())
                return false;
        }
        for (const auto& o : objects)
            o->acquire_locked();
        index = 0;
        done = true;
        return true;
    }
};

// Enters a waiter in the lists of its objects for the length of the wait.
struct WaitRegistration {
    Waiter& waiter;
    explicit WaitRegistration(Waiter& w) : waiter(w)
    {
        for (const auto& o : w.objects)
            o->m_waiters.push_back(&w);
    }
    ~WaitRegistration()
    {
        for (const auto& o : waiter.objects)
            std::erase(o->m_waiters, &waiter);
    }
    WaitRegistration(const WaitRegistration&) = delete;
    WaitRegistration& operator=(const WaitRegistration&) = delete;
};

void Waitable::wake_waiters_locked()
{
    for (Waiter* w : m_waiters) {
        if (!signalled_locked())
            break;
        if (!w->done && w->try_satisfy_locked())
            w->wake.notify_one();
    }
}

size_t Waitable::blocked_waiters() const
{
    auto lock = sync_lock();
    size_t n = 0;
    for (const Waiter* w : m_waiters)
        n += w->done ? 0 : 1;
    return n;
}

void Event::set()
{
    auto lock = sync_lock();
    m_set = true;
    wake_waiters_locked();
}

void Event::reset()
{
    auto lock = sync_lock();
    m_set = false;
}

bool Event::is_set() const
{
    auto lock = sync_lock();
    return m_set;
}

WaitOutcome wait_objects(std::span<const std::shared_ptr<Waitable>> objects, WaitMode mode, DWORD timeout_ms)
{
    auto lock = sync_lock();
    Waiter w{objects, mode, {}, false, 0};
    if (w.try_satisfy_locked())
        return {false, w.index};
    if (timeout_ms == 0)
        return {true, 0};

    WaitRegistration registration(w);
    if (timeout_ms == INFINITE) {
        w.wake.wait(lock, [&] { return w.done; });
    } else {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
        w.wake.wait_until(lock, deadline, [&] { return w.done; });
    }
    // A signal that came in together with the time-out has already been
    // taken by this waiter, so it counts as success, not as a time-out.
    return w.done ? WaitOutcome{false, w.index} : WaitOutcome{true, 0};
}

bool wait_one(const std::shared_ptr<Waitable>& object, DWORD timeout_ms)
{
    return !wait_objects(std::span(&object, 1), WaitMode::Any, timeout_ms).timed_out;
}

} // namespace kolm::platform
