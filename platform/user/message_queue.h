// Per-thread message queues and the messages sent between threads.
//
// A thread gets its queue the first time it needs one (creating a window,
// reading messages, sending to another thread, setting a timer). Posted
// messages wait in the queue; a message sent from another thread (or from
// another process, through the mailbox) is a SentMessage that the owner
// thread handles before any posted one, while it reads messages or while
// it waits for its own sends to be answered.
#pragma once

#include "user/user_area.h"
#include "user/timer_set.h"
#include "user/waker.h"

#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace kolm::platform {

// A message sent to a window of another thread; shared by the sender and
// the owner thread until both are done with it.
class SentMessage {
public:
    HWND hwnd = nullptr;
    UINT message = 0;
    WPARAM wparam = 0;
    LPARAM lparam = 0;
    // Woken when the message is answered.
    std::shared_ptr<Waker> waker;

    // Hooks for messages marshalled from another process; they run on the
    // owner thread. `before_call` may point lparam into `storage`;
    // `capture` copies what the window wrote back into `out` at the moment
    // of the answer (an early ReplyMessage included).
    std::function<void(SentMessage&)> before_call;
    std::function<void(SentMessage&, LRESULT)> capture;
    std::vector<char> storage;
    std::string out;

    // The first answer wins; later ones are ignored. Returns whether this
    // one was taken.
    bool reply(LRESULT result, bool run_capture = true);
    bool replied() const;
    LRESULT result() const;

private:
    mutable std::mutex m_mutex;
    bool m_replied = false;
    LRESULT m_result = 0;
};

// Which messages a GetMessageA/PeekMessageA call takes.
struct MessageFilter {
    bool any_window = true;      // hWnd NULL: every window and thread message
    bool thread_only = false;    // hWnd -1: only messages without a window
    std::vector<DWORD> windows;  // otherwise the window and its descendants
    UINT min = 0;
    UINT max = 0;

    bool accepts_window(DWORD hwnd) const;
    bool accepts_message(UINT message) const;
};

class MessageQueue {
public:
    explicit MessageQueue(DWORD thread_id);

    DWORD thread_id() const { return m_thread_id; }
    const std::shared_ptr<Waker>& waker() const { return m_waker; }
    bool valid() const { return m_waker && m_waker->valid(); }

    // 0, or the Win32 error (the queue is full or its thread has ended).
    DWORD post(const MSG& msg);
    void post_quit(int exit_code);
    // False when the owner thread has ended: nobody will answer.
    bool deliver_sent(std::shared_ptr<SentMessage> sm);

    // Owner thread only.
    std::shared_ptr<SentMessage> take_sent();
    bool take_posted(const MessageFilter& filter, bool remove, MSG& out);
    bool take_quit(const MessageFilter& filter, bool remove, MSG& out);
    bool take_timer(const MessageFilter& filter, bool remove, MSG& out);
    std::optional<Clock::time_point> next_timer_due(const MessageFilter& filter);

    UINT_PTR set_timer(DWORD hwnd, UINT_PTR id, UINT elapse_ms, TIMERPROC proc);
    bool kill_timer(DWORD hwnd, UINT_PTR id);
    bool has_timer_proc(DWORD hwnd, UINT_PTR id, TIMERPROC proc);

    // Drops what is queued for a window that is going away.
    void forget_window(DWORD hwnd);
    // The owner thread has ended: pending senders get 0 and nothing more is
    // accepted.
    void shut_down();
    bool alive();

    // Most posted messages one queue holds, as Windows limits it.
    static constexpr size_t max_posted = 10000;

private:
    const DWORD m_thread_id;
    std::shared_ptr<Waker> m_waker;
    std::mutex m_mutex;
    std::deque<MSG> m_posted;
    std::deque<std::shared_ptr<SentMessage>> m_sent;
    TimerSet m_timers;
    bool m_quit = false;
    int m_quit_code = 0;
    bool m_dead = false;
};

DWORD current_thread_id();
DWORD current_process_id();

// The calling thread's queue, created on first use; nullptr only when the
// system has no descriptors left.
std::shared_ptr<MessageQueue> current_queue();
// The calling thread's queue if it has one.
std::shared_ptr<MessageQueue> current_queue_if_any();
std::shared_ptr<MessageQueue> queue_of_thread(DWORD thread_id);

} // namespace kolm::platform
