// Waitable kernel objects and waiting on them.
//
// Every state change of a waitable object and every wait go under one
// process-wide lock. A wait is satisfied at the moment an object becomes
// signalled, by the thread that signals it: that is what lets an auto-reset
// event release exactly one waiter per SetEvent (the first waiter that can
// take it resets it again), and a wait-all take all its objects at once.
// The satisfied waiters' threads are woken only once the lock is released,
// so that none of them wakes into a lock still held.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <vector>

#include "kernel/handle_table.h"

namespace kolm::platform {

struct Waiter;

// The threads of waits satisfied under the sync lock, woken when this goes
// out of scope: declare it before the lock, so that the lock is released
// first.
class WakeList {
public:
    WakeList() = default;
    ~WakeList();
    WakeList(const WakeList&) = delete;
    WakeList& operator=(const WakeList&) = delete;

    void add(std::atomic<std::uint32_t>* word);

private:
    std::array<std::atomic<std::uint32_t>*, 4> m_fixed{};
    size_t m_count = 0;
    std::vector<std::atomic<std::uint32_t>*> m_more; // beyond the first four
};

class Waitable : public KernelObject {
public:
    // Both are called with the sync lock held.
    virtual bool signalled_locked() const = 0;
    // What a satisfied wait does to the object (an auto-reset event resets).
    virtual void acquire_locked() {}

    // Threads still blocked on this object (their wait not yet satisfied).
    // For tests, which must know that every waiter is in place.
    size_t blocked_waiters() const;

protected:
    // Lets waiters that can now be satisfied go, oldest first, their
    // threads woken by `wakes`. Call with the sync lock held, after the
    // object has become signalled.
    void wake_waiters_locked(WakeList& wakes);

private:
    friend struct Waiter;
    friend struct WaitRegistration;
    std::vector<Waiter*> m_waiters; // threads blocked on this object, oldest first
};

std::unique_lock<std::mutex> sync_lock();

class Event final : public Waitable {
public:
    Event(bool manual_reset, bool initially_set) : m_manual(manual_reset), m_set(initially_set) {}

    void set();
    void reset();
    bool is_set() const;
    bool manual_reset() const { return m_manual; }

    bool signalled_locked() const override { return m_set; }
    void acquire_locked() override
    {
        if (!m_manual)
            m_set = false;
    }

private:
    const bool m_manual;
    bool m_set; // guarded by the sync lock
};

enum class WaitMode { Any, All };

struct WaitOutcome {
    bool timed_out = false;
    size_t index = 0; // the object that ended a wait-any; 0 for wait-all
};

// Blocks until one (Any) or all (All) of the objects are signalled, or
// timeout_ms passes (INFINITE: never). The caller keeps the objects alive.
WaitOutcome wait_objects(std::span<const std::shared_ptr<Waitable>> objects, WaitMode mode, DWORD timeout_ms);

// One object; true when it was signalled within the time.
bool wait_one(const std::shared_ptr<Waitable>& object, DWORD timeout_ms);

// Ring-0 handles: the numbers a port driver inside this process holds for
// the runtime's events. They live in their own space (never equal to a
// Win32 handle) and keep the event alive until closed, as a driver's
// reference would. The same event always gives the same number.
DWORD ring0_from_event(const std::shared_ptr<Event>& event);
std::shared_ptr<Event> event_from_ring0(DWORD ring0);
bool close_ring0(DWORD ring0);

} // namespace kolm::platform
