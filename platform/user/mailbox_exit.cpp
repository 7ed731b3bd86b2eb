#include "user/mailbox_exit.h"

#include "kernel/process_exit.h"
#include "user/mailbox_listener.h"
#include "user/message_queue.h"
#include "user/waker.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <vector>

namespace kolm::platform {

namespace {

using namespace std::chrono_literals;

constexpr auto exit_wait_limit = 2s;

// Answers decided but not yet written, shared by the connection threads
// (which add and remove) and the exiting thread (which waits).
struct InFlight {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<std::shared_ptr<SentMessage>> sends;
    int posts = 0;

    bool settled()
    {
        return posts == 0
            && std::none_of(sends.begin(), sends.end(), [](const auto& sm) { return sm->replied(); });
    }
};

// NOTE: never destroyed: connection threads may still touch it while
// static destructors run.
InFlight& in_flight()
{
    static InFlight* f = new InFlight;
    return *f;
}

std::atomic<const MailboxListener*> g_exit_listener { nullptr };
std::atomic<bool> g_exit_hook { false };

void at_exit()
{
    if (const MailboxListener* l = g_exit_listener.load())
        l->unlink_socket();
    auto& f = in_flight();
    std::unique_lock lock(f.mutex);
    f.changed.wait_for(lock, exit_wait_limit, [&f] { return f.settled(); });
}

} // namespace

InFlightSend::InFlightSend(std::shared_ptr<SentMessage> sm)
    : m_sm(std::move(sm))
{
    std::lock_guard lock(in_flight().mutex);
    in_flight().sends.push_back(m_sm);
}

InFlightSend::~InFlightSend()
{
    {
        std::lock_guard lock(in_flight().mutex);
        std::erase(in_flight().sends, m_sm);
    }
    in_flight().changed.notify_all();
}

InFlightPost::InFlightPost()
{
    std::lock_guard lock(in_flight().mutex);
    ++in_flight().posts;
}

InFlightPost::~InFlightPost()
{
    {
        std::lock_guard lock(in_flight().mutex);
        --in_flight().posts;
    }
    in_flight().changed.notify_all();
}

bool wait_for_answer_or_hang_up(const SentMessage& sm, Waker& waker, int client_fd)
{
    const int fds[2] = { waker.fd(), client_fd };
    for (;;) {
        waker.drain();
        if (sm.replied())
            return true;
        bool ready[2];
        if (poll_readable(fds, ready, 2, std::nullopt) == Ready::Error)
            return false;
        // The client only waits after its request: anything readable on
        // its socket means it hung up.
        if (ready[1] && !sm.replied())
            return false;
    }
}

void set_listener_for_exit(const MailboxListener* listener)
{
    g_exit_listener.store(listener);
    if (listener && !g_exit_hook.exchange(true))
        at_process_exit(at_exit);
}

} // namespace kolm::platform
