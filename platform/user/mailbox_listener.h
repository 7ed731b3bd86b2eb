// The listening end of this process's mailbox: a Unix socket in the
// machine root's run/ folder, owner-only, that accepts connections from
// processes of the same user.
//
// Threads: start() and stop() are called by the mailbox's owner (under its
// lock, see mailbox.cpp). The accept thread, started by start() and joined
// by stop(), is the only one that touches the listening descriptor between
// the two. Each accepted connection is handed to its own detached thread
// (mailbox_dispatch.h), at most max_connections at once, so a slow, dead or
// malicious client never holds up the others.
#pragma once

#include "internal/fd.h"
#include "user/waker.h"

#include <filesystem>
#include <thread>

namespace kolm::platform {

class MailboxListener {
public:
    MailboxListener() = default;
    ~MailboxListener() { stop(); }
    MailboxListener(const MailboxListener&) = delete;
    MailboxListener& operator=(const MailboxListener&) = delete;

    // Listens in `dir` under this process's mailbox name and starts the
    // accept thread. False when the socket cannot be put in place.
    bool start(const std::filesystem::path& dir);

    // Ends the accept thread, closes the socket and removes its file.
    // Connections already accepted run on.
    void stop();

    // Removes the socket file only. Safe from an exit handler: no thread is
    // joined, no lock taken.
    void unlink_socket() const;

    const std::filesystem::path& dir() const { return m_dir; }
    const std::filesystem::path& path() const { return m_path; }

private:
    void accept_loop();

    // Written by start() before the accept thread exists; read-only after.
    std::filesystem::path m_dir;
    std::filesystem::path m_path;
    // The listening socket; empty when not listening.
    Fd m_fd;
    // Woken by stop() to end the accept thread.
    Waker m_stop;
    std::thread m_thread;
};

} // namespace kolm::platform
