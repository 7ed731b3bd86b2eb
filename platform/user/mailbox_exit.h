// How a mailbox copes with either end of a conversation going away.
//
// The peer: a client that hangs up while its sent message waits for the
// window is no longer waited for; the message still runs and its answer is
// dropped. That wait runs on the connection's own thread.
//
// The owner: when this process exits, its socket file is removed (so no
// client takes it for a live mailbox) and the exit waits briefly for answers
// already decided but not yet written. A posted WM_DESTROY can end the
// process a moment after it was queued, before the poster heard "done";
// without the wait a delivered message would be reported as lost. Sends
// still waiting for their window are not waited for: they may never be
// answered. That runs on whichever thread calls exit().
#pragma once

#include <memory>

namespace kolm::platform {

class MailboxListener;
class SentMessage;
class Waker;

// Registers a send whose answer is in flight, for the life of the object.
// Lives on the connection's thread until the reply is written.
class InFlightSend {
public:
    explicit InFlightSend(std::shared_ptr<SentMessage> sm);
    ~InFlightSend();
    InFlightSend(const InFlightSend&) = delete;
    InFlightSend& operator=(const InFlightSend&) = delete;

private:
    std::shared_ptr<SentMessage> m_sm;
};

// Registers a post whose answer is in flight, for the life of the object.
class InFlightPost {
public:
    InFlightPost();
    ~InFlightPost();
    InFlightPost(const InFlightPost&) = delete;
    InFlightPost& operator=(const InFlightPost&) = delete;
};

// Waits until the window answers `sm` (its waker is `waker`) or the client
// on `client_fd` hangs up. True when answered; false when the client went
// away or the wait failed.
bool wait_for_answer_or_hang_up(const SentMessage& sm, Waker& waker, int client_fd);

// The listener whose socket file exit removes (nullptr: none). Set by the
// mailbox's owner under its lock before it stops a listener; read at exit
// without that lock, which another thread may hold while the process
// exits. The first non-null listener installs the exit handler.
void set_listener_for_exit(const MailboxListener* listener);

} // namespace kolm::platform
