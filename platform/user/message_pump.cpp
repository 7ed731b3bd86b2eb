#include "user/message_pump.h"

#include "user/window.h"

#include <utility>
#include <vector>

namespace kolm::platform {

namespace {

// The sent messages this thread is inside of, innermost last. A direct
// same-thread SendMessageA does not push: it is a plain call.
thread_local std::vector<SentMessage*> t_receiving;

// The sent message a modal loop starting now answers; see ReplyWhenModal.
thread_local SentMessage* t_reply_when_modal = nullptr;

bool window_of_queue(HWND h, const MessageQueue& queue)
{
    std::lock_guard lock(window_lock());
    Window* w = find_window_locked(hwnd_value(h));
    return w && w->queue.get() == &queue;
}

bool serve_sent(MessageQueue& queue)
{
    bool any = false;
    while (auto sm = queue.take_sent()) {
        handle_sent_message(sm);
        any = true;
    }
    return any;
}

// A posted message whose window has gone meanwhile is dropped, as the
// window's destruction would have removed it.
bool take_live_posted(MessageQueue& queue, const MessageFilter& filter, bool remove, MSG& out)
{
    for (;;) {
        if (!queue.take_posted(filter, remove, out))
            return false;
        if (!out.hwnd || window_of_queue(out.hwnd, queue))
            return true;
        if (!remove) {
            queue.forget_window(hwnd_value(out.hwnd));
            continue;
        }
    }
}

// WM_PAINT for a window of this thread that has one due, once nothing else
// is waiting: paint comes after posted messages and before timers.
bool take_paint(MessageQueue& queue, const MessageFilter& filter, bool remove, MSG& out)
{
    if (!filter.accepts_message(WM_PAINT) || filter.thread_only)
        return false;
    std::lock_guard lock(window_lock());
    for (DWORD h : all_windows_locked()) {
        Window* w = find_window_locked(h);
        if (!w || !w->needs_paint || w->queue.get() != &queue || !filter.accepts_window(h))
            continue;
        if (!(w->style & WS_VISIBLE) || w->state == WindowState::Destroying) {
            w->needs_paint = false;
            continue;
        }
        if (remove)
            w->needs_paint = false;
        out = MSG {};
        out.hwnd = hwnd_from(h);
        out.message = WM_PAINT;
        out.time = GetTickCount();
        return true;
    }
    return false;
}

} // namespace

void handle_sent_message(const std::shared_ptr<SentMessage>& sm)
{
    auto self = current_queue_if_any();
    LRESULT result = 0;
    if (self && window_of_queue(sm->hwnd, *self)) {
        if (sm->before_call)
            sm->before_call(*sm);
        t_receiving.push_back(sm.get());
        result = call_window_proc(sm->hwnd, sm->message, sm->wparam, sm->lparam);
        t_receiving.pop_back();
    }
    sm->reply(result);
}

bool next_message(MessageQueue& queue, const MessageFilter& filter, bool remove, bool wait, MSG& out)
{
    const int fd = queue.waker()->fd();
    for (;;) {
        queue.waker()->drain();
        serve_sent(queue);
        if (take_live_posted(queue, filter, remove, out))
            return true;
        if (queue.take_quit(filter, remove, out))
            return true;
        if (take_paint(queue, filter, remove, out))
            return true;
        if (queue.take_timer(filter, remove, out))
            return true;
        if (!wait)
            return false;
        bool ready;
        if (poll_readable(&fd, &ready, 1, queue.next_timer_due(filter)) == Ready::Error)
            return false;
    }
}

WaitEnd wait_serving(MessageQueue& me, int extra_fd, const std::function<bool()>& done)
{
    const int fds[2] = { me.waker()->fd(), extra_fd };
    const int count = extra_fd >= 0 ? 2 : 1;
    for (;;) {
        me.waker()->drain();
        serve_sent(me);
        if (done())
            return WaitEnd::Done;
        bool ready[2] = { false, false };
        if (poll_readable(fds, ready, count, std::nullopt) == Ready::Error)
            return WaitEnd::Failed;
        if (count == 2 && ready[1])
            return WaitEnd::FdReady;
    }
}

LRESULT send_to_thread(const std::shared_ptr<MessageQueue>& target, HWND hwnd, UINT msg, WPARAM wparam,
                       LPARAM lparam)
{
    auto me = current_queue();
    if (!me) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return 0;
    }
    auto sm = std::make_shared<SentMessage>();
    sm->hwnd = hwnd;
    sm->message = msg;
    sm->wparam = wparam;
    sm->lparam = lparam;
    sm->waker = me->waker();
    if (!target->deliver_sent(sm))
        return 0; // the owner thread has ended; its windows are gone
    wait_serving(*me, -1, [&] { return sm->replied(); });
    return sm->result();
}

bool reply_to_sender(LRESULT result)
{
    if (t_receiving.empty())
        return false;
    return t_receiving.back()->reply(result);
}

bool handling_sent_message()
{
    return !t_receiving.empty() && !t_receiving.back()->replied();
}

ReplyWhenModal::ReplyWhenModal() : m_outer(t_reply_when_modal)
{
    t_reply_when_modal = t_receiving.empty() ? nullptr : t_receiving.back();
}

ReplyWhenModal::~ReplyWhenModal()
{
    t_reply_when_modal = m_outer;
}

void modal_loop_started()
{
    // Answered once; messages handled inside the modal loop are not.
    if (SentMessage* sm = std::exchange(t_reply_when_modal, nullptr))
        sm->reply(0);
}

} // namespace kolm::platform
