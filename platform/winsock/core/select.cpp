#include "select.h"

#include <cerrno>
#include <poll.h>

#include "internal/thread_plug.h"

namespace kolm::platform::net {

namespace {

// One pollfd's meaning: the target of entry `entry`, or that entry's
// socket being closed.
struct Slot {
    size_t entry;
    bool cancel;
};

} // namespace

int select_sockets(std::vector<SelectEntry>& entries, std::optional<std::chrono::microseconds> timeout)
{
    std::optional<Clock::time_point> deadline;
    if (timeout)
        deadline = Clock::now() + *timeout;

    // An entry whose descriptor reports an error or hang-up without being
    // ready for its set would make poll return at once forever; it is left
    // out of later rounds, as it can no longer become ready.
    std::vector<bool> dropped(entries.size(), false);
    std::vector<pollfd> fds;
    std::vector<Slot> slots;
    for (;;) {
        fds.clear();
        slots.clear();
        bool ready_now = false;
        for (size_t i = 0; i < entries.size(); ++i) {
            SelectEntry& e = entries[i];
            e.ready = false;
            if (e.sock->closed()) {
                e.ready = ready_now = true;
                continue;
            }
            if (dropped[i])
                continue;
            const PollTarget t = e.sock->poll_target(e.kind);
            if (t.ready_now) {
                e.ready = ready_now = true;
                continue;
            }
            if (t.fd >= 0) {
                fds.push_back({t.fd, t.events, 0});
                slots.push_back({i, false});
            }
            fds.push_back({e.sock->cancel_fd(), POLLIN, 0});
            slots.push_back({i, true});
        }

        const int wait_ms = ready_now ? 0 : poll_timeout_ms(deadline);
        if (wait_ms != 0)
            sys::unplug();
        const int n = ::poll(fds.data(), fds.size(), wait_ms);
        if (n < 0 && errno == EINTR)
            continue;
        if (n > 0) {
            for (size_t k = 0; k < fds.size(); ++k) {
                if (!fds[k].revents)
                    continue;
                const Slot s = slots[k];
                SelectEntry& e = entries[s.entry];
                if (s.cancel || e.sock->is_ready(e.kind, fds[k].revents))
                    e.ready = true;
                else if (fds[k].revents & (POLLERR | POLLHUP | POLLNVAL))
                    dropped[s.entry] = true;
            }
        }
        int count = 0;
        for (const SelectEntry& e : entries)
            count += e.ready ? 1 : 0;
        if (count > 0)
            return count;
        if (deadline && Clock::now() >= *deadline)
            return 0;
    }
}

} // namespace kolm::platform::net
