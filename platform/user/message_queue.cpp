#include "user/message_queue.h"

#include "user/window.h"

#include <algorithm>
#include <map>

namespace kolm::platform {

bool SentMessage::reply(LRESULT result, bool run_capture)
{
    {
        std::lock_guard lock(m_mutex);
        if (m_replied)
            return false;
    }
    // Only the owner thread answers a message, so nobody can answer between
    // the check above and the capture below.
    if (run_capture && capture)
        capture(*this, result);
    {
        std::lock_guard lock(m_mutex);
        m_replied = true;
        m_result = result;
    }
    if (waker)
        waker->wake();
    return true;
}

bool SentMessage::replied() const
{
    std::lock_guard lock(m_mutex);
    return m_replied;
}

LRESULT SentMessage::result() const
{
    std::lock_guard lock(m_mutex);
    return m_result;
}

bool MessageFilter::accepts_window(DWORD hwnd) const
{
    if (any_window)
        return true;
    if (thread_only)
        return hwnd == 0;
    return std::find(windows.begin(), windows.end(), hwnd) != windows.end();
}

bool MessageFilter::accepts_message(UINT message) const
{
    if (min == 0 && max == 0)
        return true;
    if (min > max) // an inverted range takes what lies outside it
        return message >= min || message <= max;
    return message >= min && message <= max;
}

MessageQueue::MessageQueue(DWORD thread_id)
    : m_thread_id(thread_id)
    , m_waker(std::make_shared<Waker>())
{
}

DWORD MessageQueue::post(const MSG& msg)
{
    {
        std::lock_guard lock(m_mutex);
        if (m_dead)
            return ERROR_INVALID_THREAD_ID;
        if (m_posted.size() >= max_posted)
            return ERROR_NOT_ENOUGH_QUOTA;
        m_posted.push_back(msg);
    }
    m_waker->wake();
    return 0;
}

void MessageQueue::post_quit(int exit_code)
{
    {
        std::lock_guard lock(m_mutex);
        m_quit = true;
        m_quit_code = exit_code;
    }
    m_waker->wake();
}

bool MessageQueue::deliver_sent(std::shared_ptr<SentMessage> sm)
{
    {
        std::lock_guard lock(m_mutex);
        if (m_dead)
            return false;
        m_sent.push_back(std::move(sm));
    }
    m_waker->wake();
    return true;
}

std::shared_ptr<SentMessage> MessageQueue::take_sent()
{
    std::lock_guard lock(m_mutex);
    if (m_sent.empty())
        return nullptr;
    auto sm = std::move(m_sent.front());
    m_sent.pop_front();
    return sm;
}

bool MessageQueue::take_posted(const MessageFilter& filter, bool remove, MSG& out)
{
    std::lock_guard lock(m_mutex);
    for (auto it = m_posted.begin(); it != m_posted.end(); ++it) {
        if (!filter.accepts_window(hwnd_value(it->hwnd)) || !filter.accepts_message(it->message))
            continue;
        out = *it;
        if (remove)
            m_posted.erase(it);
        return true;
    }
    return false;
}

bool MessageQueue::take_quit(const MessageFilter& filter, bool remove, MSG& out)
{
    std::lock_guard lock(m_mutex);
    // WM_QUIT belongs to no window: a loop filtered on one window never
    // sees it, but a message range does not hide it.
    if (!m_quit || !(filter.any_window || filter.thread_only))
        return false;
    out = MSG {};
    out.message = WM_QUIT;
    out.wParam = static_cast<WPARAM>(static_cast<LPARAM>(m_quit_code));
    out.time = tick_count();
    if (remove)
        m_quit = false;
    return true;
}

bool MessageQueue::take_timer(const MessageFilter& filter, bool remove, MSG& out)
{
    if (!filter.accepts_message(WM_TIMER))
        return false;
    std::lock_guard lock(m_mutex);
    auto fired = m_timers.take_due(Clock::now(), [&](DWORD hwnd) { return filter.accepts_window(hwnd); }, remove);
    if (!fired)
        return false;
    out = MSG {};
    out.hwnd = hwnd_from(fired->hwnd);
    out.message = WM_TIMER;
    out.wParam = fired->id;
    out.lParam = reinterpret_cast<LPARAM>(fired->proc);
    out.time = tick_count();
    return true;
}

std::optional<Clock::time_point> MessageQueue::next_timer_due(const MessageFilter& filter)
{
    if (!filter.accepts_message(WM_TIMER))
        return std::nullopt;
    std::lock_guard lock(m_mutex);
    if (filter.any_window)
        return m_timers.next_due();
    return m_timers.next_due([&](DWORD hwnd) { return filter.accepts_window(hwnd); });
}

UINT_PTR MessageQueue::set_timer(DWORD hwnd, UINT_PTR id, UINT elapse_ms, TIMERPROC proc)
{
    UINT_PTR result;
    {
        std::lock_guard lock(m_mutex);
        if (m_dead)
            return 0;
        result = m_timers.set(hwnd, id, elapse_ms, proc, Clock::now());
    }
    // The owner may be asleep with a later deadline.
    m_waker->wake();
    return result;
}

bool MessageQueue::kill_timer(DWORD hwnd, UINT_PTR id)
{
    std::lock_guard lock(m_mutex);
    return m_timers.kill(hwnd, id);
}

bool MessageQueue::has_timer_proc(DWORD hwnd, UINT_PTR id, TIMERPROC proc)
{
    std::lock_guard lock(m_mutex);
    return m_timers.has_timer_proc(hwnd, id, proc);
}

void MessageQueue::forget_window(DWORD hwnd)
{
    std::lock_guard lock(m_mutex);
    std::erase_if(m_posted, [hwnd](const MSG& m) { return hwnd_value(m.hwnd) == hwnd; });
    m_timers.remove_window(hwnd);
}

void MessageQueue::shut_down()
{
    std::deque<std::shared_ptr<SentMessage>> orphans;
    {
        std::lock_guard lock(m_mutex);
        m_dead = true;
        orphans.swap(m_sent);
        m_posted.clear();
        m_timers.clear();
    }
    for (auto& sm : orphans)
        sm->reply(0, false);
}

bool MessageQueue::alive()
{
    std::lock_guard lock(m_mutex);
    return !m_dead;
}

// The same numbers GetCurrentThreadId and GetCurrentProcessId give, so a
// program may pass them to PostThreadMessageA and compare them with
// GetWindowThreadProcessId.
DWORD current_thread_id()
{
    return GetCurrentThreadId();
}

DWORD current_process_id()
{
    return GetCurrentProcessId();
}

namespace {

struct QueueRegistry {
    std::mutex mutex;
    std::map<DWORD, std::weak_ptr<MessageQueue>> by_thread;
};

QueueRegistry& registry()
{
    static QueueRegistry* r = new QueueRegistry;
    return *r;
}

// Destroys the windows of a thread that has ended. Their procedures are not
// called: the thread that would run them is gone.
void drop_thread_windows(const std::shared_ptr<MessageQueue>& queue)
{
    std::vector<DWORD> doomed;
    {
        std::lock_guard lock(window_lock());
        for (DWORD h : all_windows_locked()) {
            Window* w = find_window_locked(h);
            if (w && w->queue == queue)
                doomed.push_back(h);
        }
        // Children go with their parents, whichever thread owns them.
        for (size_t i = 0; i < doomed.size(); ++i) {
            if (Window* w = find_window_locked(doomed[i]))
                for (DWORD c : w->children)
                    if (std::find(doomed.begin(), doomed.end(), c) == doomed.end())
                        doomed.push_back(c);
        }
        for (auto it = doomed.rbegin(); it != doomed.rend(); ++it)
            erase_window_locked(*it);
    }
}

struct ThreadQueueHolder {
    std::shared_ptr<MessageQueue> queue;
    ~ThreadQueueHolder()
    {
        if (!queue)
            return;
        queue->shut_down();
        drop_thread_windows(queue);
        std::lock_guard lock(registry().mutex);
        registry().by_thread.erase(queue->thread_id());
    }
};

thread_local ThreadQueueHolder t_holder;

} // namespace

std::shared_ptr<MessageQueue> current_queue()
{
    if (t_holder.queue)
        return t_holder.queue;
    auto q = std::make_shared<MessageQueue>(current_thread_id());
    if (!q->valid())
        return nullptr;
    {
        std::lock_guard lock(registry().mutex);
        registry().by_thread[q->thread_id()] = q;
    }
    t_holder.queue = q;
    return q;
}

std::shared_ptr<MessageQueue> current_queue_if_any()
{
    return t_holder.queue;
}

std::shared_ptr<MessageQueue> queue_of_thread(DWORD thread_id)
{
    std::lock_guard lock(registry().mutex);
    auto it = registry().by_thread.find(thread_id);
    return it == registry().by_thread.end() ? nullptr : it->second.lock();
}

} // namespace kolm::platform
