#include "user/timer_set.h"

#include <algorithm>
#include <atomic>

namespace kolm::platform {

namespace {

// Ids of window-less timers are unique in the process, as callers use them
// to tell their timers apart in one thread loop.
std::atomic<UINT_PTR> g_next_thread_timer_id { 1 };

UINT_PTR new_thread_timer_id()
{
    for (;;) {
        UINT_PTR id = g_next_thread_timer_id.fetch_add(1);
        if (id != 0 && id <= 0xFFFFFFFFu)
            return id;
        g_next_thread_timer_id.store(1);
    }
}

std::chrono::milliseconds clamp_period(UINT elapse_ms)
{
    UINT ms = std::clamp<UINT>(elapse_ms, USER_TIMER_MINIMUM, USER_TIMER_MAXIMUM);
    return std::chrono::milliseconds(ms);
}

} // namespace

UINT_PTR TimerSet::set(DWORD hwnd, UINT_PTR id, UINT elapse_ms, TIMERPROC proc, Clock::time_point now)
{
    if (hwnd == 0 && (id == 0 || !m_timers.contains({ 0, id })))
        id = new_thread_timer_id();
    Key key { hwnd, id };
    Timer t { clamp_period(elapse_ms), proc, now + clamp_period(elapse_ms), ++m_generation };
    m_timers[key] = t;
    push(key, t);
    return id;
}

bool TimerSet::kill(DWORD hwnd, UINT_PTR id)
{
    return m_timers.erase({ hwnd, id }) > 0;
}

void TimerSet::remove_window(DWORD hwnd)
{
    std::erase_if(m_timers, [hwnd](const auto& kv) { return kv.first.first == hwnd; });
}

void TimerSet::clear()
{
    m_timers.clear();
    m_heap.clear();
}

bool TimerSet::current(const HeapEntry& e) const
{
    auto it = m_timers.find(e.key);
    return it != m_timers.end() && it->second.generation == e.generation;
}

void TimerSet::push(const Key& key, const Timer& t)
{
    m_heap.push_back(HeapEntry { t.due, t.generation, key });
    std::push_heap(m_heap.begin(), m_heap.end(), std::greater<> {});
    compact();
}

void TimerSet::drop_stale_top()
{
    while (!m_heap.empty() && !current(m_heap.front())) {
        std::pop_heap(m_heap.begin(), m_heap.end(), std::greater<> {});
        m_heap.pop_back();
    }
}

void TimerSet::compact()
{
    // Re-arming leaves the old heap entry behind; rebuild once they pile up
    // so a program that re-arms often does not grow the heap without end.
    if (m_heap.size() <= 2 * m_timers.size() + 16)
        return;
    std::erase_if(m_heap, [this](const HeapEntry& e) { return !current(e); });
    std::make_heap(m_heap.begin(), m_heap.end(), std::greater<> {});
}

std::optional<TimerSet::Fired> TimerSet::take_due(Clock::time_point now,
                                                  const std::function<bool(DWORD hwnd)>& accept, bool remove)
{
    drop_stale_top();
    if (m_heap.empty() || m_heap.front().due > now)
        return std::nullopt;
    // The top is due; with a window filter an earlier-due timer of another
    // window may have to be passed over, so look through the due ones.
    const HeapEntry* chosen = nullptr;
    if (accept(m_heap.front().key.first)) {
        chosen = &m_heap.front();
    } else {
        for (const auto& e : m_heap) {
            if (e.due <= now && current(e) && accept(e.key.first) && (!chosen || e.due < chosen->due))
                chosen = &e;
        }
    }
    if (!chosen)
        return std::nullopt;
    const Key key = chosen->key;
    Timer& t = m_timers.at(key);
    Fired fired { key.first, key.second, t.proc };
    if (remove) {
        t.due = now + t.period;
        t.generation = ++m_generation;
        push(key, t);
    }
    return fired;
}

std::optional<Clock::time_point> TimerSet::next_due()
{
    drop_stale_top();
    if (m_heap.empty())
        return std::nullopt;
    return m_heap.front().due;
}

std::optional<Clock::time_point> TimerSet::next_due(const std::function<bool(DWORD hwnd)>& accept)
{
    drop_stale_top();
    if (m_heap.empty())
        return std::nullopt;
    if (accept(m_heap.front().key.first))
        return m_heap.front().due;
    std::optional<Clock::time_point> best;
    for (const auto& [key, t] : m_timers)
        if (accept(key.first) && (!best || t.due < *best))
            best = t.due;
    return best;
}

bool TimerSet::has_timer_proc(DWORD hwnd, UINT_PTR id, TIMERPROC proc) const
{
    auto it = m_timers.find({ hwnd, id });
    return it != m_timers.end() && proc && it->second.proc == proc;
}

} // namespace kolm::platform
