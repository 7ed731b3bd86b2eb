// Reading a thread's messages, and sending to windows of other threads.
#pragma once

#include "user/message_queue.h"

#include <functional>
#include <memory>

namespace kolm::platform {

// Runs a sent message's window procedure on this (the owner) thread and
// answers it, unless the procedure answered early with ReplyMessage.
void handle_sent_message(const std::shared_ptr<SentMessage>& sm);

// The next message the filter takes: sent messages are handled first, then
// posted messages, then WM_QUIT, then due timers. With `wait`, blocks until
// one comes (poll on the queue's eventfd, up to the next timer); without,
// returns false when there is none.
bool next_message(MessageQueue& queue, const MessageFilter& filter, bool remove, bool wait, MSG& out);

enum class WaitEnd { Done, FdReady, Failed };

// Blocks until done() holds, handling messages sent to this thread in the
// meantime so that two threads sending to each other do not deadlock.
// With extra_fd >= 0, also returns FdReady when that descriptor is readable.
WaitEnd wait_serving(MessageQueue& me, int extra_fd, const std::function<bool()>& done);

// SendMessageA to a window owned by another thread of this process.
LRESULT send_to_thread(const std::shared_ptr<MessageQueue>& target, HWND hwnd, UINT msg, WPARAM wparam,
                       LPARAM lparam);

// ReplyMessage and InSendMessage for the message this thread is handling.
bool reply_to_sender(LRESULT result);
bool handling_sent_message();

// While one lives, the message this thread is handling for another thread
// or process is answered (with 0) as soon as a modal loop starts within it:
// a click that opens a modal dialog or a message box is done, for whoever
// clicked, once that box is up, and the clicker can go on to drive it.
class ReplyWhenModal {
public:
    ReplyWhenModal();
    ~ReplyWhenModal();
    ReplyWhenModal(const ReplyWhenModal&) = delete;
    ReplyWhenModal& operator=(const ReplyWhenModal&) = delete;

private:
    SentMessage* m_outer;
};

// Called by every modal loop (modal dialogs, message boxes waiting for the
// user) once its window is up, before it waits for the first message.
void modal_loop_started();

} // namespace kolm::platform
