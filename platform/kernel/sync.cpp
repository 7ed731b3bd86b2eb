#include "kernel/sync.h"

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <optional>

#include <linux/futex.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "internal/process_lifetime.h"
#include "internal/thread_plug.h"

namespace kolm::platform {

namespace {

using Word = std::atomic<std::uint32_t>;

// A waiting thread sleeps on a word of its own rather than on a condition
// of the sync lock: woken, it finds the lock free, and the wake-up costs
// the signalling thread one system call and the waiter none.
void futex_wake(Word* word)
{
    ::syscall(SYS_futex, reinterpret_cast<std::uint32_t*>(word), FUTEX_WAKE_PRIVATE, 1, nullptr, nullptr, 0);
}

// Sleeps while *word is 0, until woken or `deadline` (CLOCK_MONOTONIC, the
// steady clock's) passes. False once the deadline has passed.
bool futex_wait(Word* word, const std::optional<timespec>& deadline)
{
    const long r = ::syscall(SYS_futex, reinterpret_cast<std::uint32_t*>(word), FUTEX_WAIT_BITSET_PRIVATE, 0,
                             deadline ? &*deadline : nullptr, nullptr, FUTEX_BITSET_MATCH_ANY);
    return r == 0 || errno != ETIMEDOUT;
}

std::optional<timespec> deadline_after(DWORD timeout_ms)
{
    if (timeout_ms == INFINITE)
        return std::nullopt;
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    const long long ns = now.tv_nsec + static_cast<long long>(timeout_ms % 1000) * 1000000;
    timespec at{};
    at.tv_sec = now.tv_sec + static_cast<time_t>(timeout_ms / 1000) + static_cast<time_t>(ns / 1000000000);
    at.tv_nsec = static_cast<long>(ns % 1000000000);
    return at;
}

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
    bool done = false;   // guarded by the sync lock
    size_t index = 0;    // guarded by the sync lock
    Word woken{0};       // 1 once done: what the waiting thread sleeps on

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

WakeList::~WakeList()
{
    // NOTE: a waiter that saw its word set before this wake may already
    // have returned, so the word may be gone. A futex wake on such an
    // address does no harm: at worst a later wait on the same address
    // wakes once, looks at its own word, and sleeps again.
    for (size_t i = 0; i < std::min(m_count, m_fixed.size()); ++i)
        futex_wake(m_fixed[i]);
    for (Word* w : m_more)
        futex_wake(w);
}

void WakeList::add(Word* word)
{
    if (m_count < m_fixed.size())
        m_fixed[m_count] = word;
    else
        m_more.push_back(word);
    ++m_count;
}

void Waitable::wake_waiters_locked(WakeList& wakes)
{
    for (Waiter* w : m_waiters) {
        if (!signalled_locked())
            break;
        if (!w->done && w->try_satisfy_locked()) {
            w->woken.store(1, std::memory_order_release);
            wakes.add(&w->woken);
        }
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
    WakeList wakes; // after the lock is released
    auto lock = sync_lock();
    m_set = true;
    wake_waiters_locked(wakes);
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
    Waiter w{objects, mode};
    if (w.try_satisfy_locked())
        return {false, w.index};
    if (timeout_ms == 0)
        return {true, 0};

    const auto deadline = deadline_after(timeout_ms);
    WaitRegistration registration(w); // leaves the lists under the lock again
    lock.unlock();
    // Registered first: a set during the held work still wakes this wait.
    sys::unplug();
    while (w.woken.load(std::memory_order_acquire) == 0) {
        if (!futex_wait(&w.woken, deadline))
            break;
    }
    lock.lock();
    // A signal that came in together with the time-out has already been
    // taken by this waiter, so it counts as success, not as a time-out.
    return w.done ? WaitOutcome{false, w.index} : WaitOutcome{true, 0};
}

bool wait_one(const std::shared_ptr<Waitable>& object, DWORD timeout_ms)
{
    return !wait_objects(std::span(&object, 1), WaitMode::Any, timeout_ms).timed_out;
}

} // namespace kolm::platform
