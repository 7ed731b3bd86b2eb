// The mailbox's owner: which listener is open, in which machine root.
// The pieces: mailbox_listener (accepting), mailbox_dispatch (serving a
// connection), marshal (parameters in and out), mailbox_exit (either end
// going away).
#include "user/mailbox.h"

#include "user/mailbox_exit.h"
#include "user/mailbox_listener.h"
#include "user/mailbox_path.h"

#include <memory>
#include <mutex>
#include <sys/stat.h>

namespace kolm::platform {

namespace {

struct MailboxState {
    // Guards `listener`. Taken by whichever thread creates a window (and
    // by tests that close the mailbox); never by the listener's threads.
    std::mutex mutex;
    std::unique_ptr<MailboxListener> listener;
};

// NOTE: never destroyed: an exit handler may still read the listener.
MailboxState& state()
{
    static MailboxState* s = new MailboxState;
    return *s;
}

// Stops and drops the current listener; the exit handler lets go of it
// first. Called with the state lock held.
void drop_listener(MailboxState& st)
{
    if (!st.listener)
        return;
    set_listener_for_exit(nullptr);
    st.listener->stop();
    st.listener.reset();
}

} // namespace

bool ensure_mailbox()
{
    auto& st = state();
    std::lock_guard lock(st.mutex);
    auto dir = mailbox_dir();
    if (!dir) {
        // This root's run/ is not safe to use; a mailbox left in an earlier
        // root would only mislead.
        drop_listener(st);
        return false;
    }
    if (st.listener && st.listener->dir() == *dir) {
        struct stat sb {};
        if (::lstat(st.listener->path().c_str(), &sb) == 0 && S_ISSOCK(sb.st_mode))
            return true;
    }
    // Moved to another machine root, or our socket file was removed:
    // listen afresh where clients will look.
    drop_listener(st);
    auto listener = std::make_unique<MailboxListener>();
    if (!listener->start(*dir))
        return false;
    st.listener = std::move(listener);
    set_listener_for_exit(st.listener.get());
    return true;
}

std::optional<std::filesystem::path> mailbox_socket_path()
{
    auto& st = state();
    std::lock_guard lock(st.mutex);
    if (!st.listener)
        return std::nullopt;
    return st.listener->path();
}

void close_mailbox()
{
    auto& st = state();
    std::lock_guard lock(st.mutex);
    drop_listener(st);
}

} // namespace kolm::platform
