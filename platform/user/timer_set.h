// The timers of one thread, in a min-heap by due time.
//
// WM_TIMER is never queued: when the thread's queue is otherwise empty the
// earliest due timer produces one message, and removing it re-arms the
// timer one period later. A timer therefore has at most one WM_TIMER
// pending, however long the thread was busy.
#pragma once

#include "user/user_area.h"
#include "user/waker.h"

#include <functional>
#include <map>
#include <optional>
#include <utility>
#include <vector>

namespace kolm::platform {

class TimerSet {
public:
    struct Fired {
        DWORD hwnd = 0;
        UINT_PTR id = 0;
        TIMERPROC proc = nullptr;
    };

    // Arms or re-arms a timer and returns its id. A timer without a window
    // gets a fresh process-wide id unless `id` names one of its own.
    UINT_PTR set(DWORD hwnd, UINT_PTR id, UINT elapse_ms, TIMERPROC proc, Clock::time_point now);
    bool kill(DWORD hwnd, UINT_PTR id);
    void remove_window(DWORD hwnd);
    void clear();

    // The earliest due timer that `accept` takes. With `remove` it is
    // re-armed one period from `now`.
    std::optional<Fired> take_due(Clock::time_point now, const std::function<bool(DWORD hwnd)>& accept,
                                  bool remove);
    // When the next timer that `accept` takes is due (a reader filtered on
    // one window must not wake for the others' timers).
    std::optional<Clock::time_point> next_due();
    std::optional<Clock::time_point> next_due(const std::function<bool(DWORD hwnd)>& accept);
    bool has_timer_proc(DWORD hwnd, UINT_PTR id, TIMERPROC proc) const;
    size_t size() const { return m_timers.size(); }
    size_t heap_entries() const { return m_heap.size(); }

private:
    using Key = std::pair<DWORD, UINT_PTR>;
    struct Timer {
        std::chrono::milliseconds period;
        TIMERPROC proc;
        Clock::time_point due;
        unsigned long long generation;
    };
    struct HeapEntry {
        Clock::time_point due;
        unsigned long long generation;
        Key key;
        bool operator>(const HeapEntry& o) const { return due > o.due; }
    };

    bool current(const HeapEntry& e) const;
    void push(const Key& key, const Timer& t);
    void drop_stale_top();
    void compact();

    std::map<Key, Timer> m_timers;
    std::vector<HeapEntry> m_heap;
    unsigned long long m_generation = 0;
};

} // namespace kolm::platform
