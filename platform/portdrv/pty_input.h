// The port's pty, and the bytes from the network written into it for the
// application.
//
// The runtime's network-to-driver pump writes with give() (DIOC_WRITE)
// while the watcher may replace the pty at a hang-up or end a session: both
// happen under m_lock, so no write can land in a pty after its session
// ended, or in the next session's pty. When the pty is full, give() asks
// the watcher to report room (EPOLLOUT) and the watcher, on room, lets the
// runtime try again (take_space_want).
//
// Threads: give() and set_left() on the runtime's pump thread; open(),
// end(), replace(), unwatch_space(), take_space_want() and pty() on the
// watcher thread (which alone replaces the pty, and so reads it freely);
// slave_path(), published_path() and left() from any thread.
#pragma once

#include <atomic>
#include <cstddef>
#include <memory>
#include <mutex>
#include <string>

#include "portdrv/pty_device.h"

namespace kolm::platform::portdrv {

class PtyWatcher;

class LineInput {
public:
    LineInput(std::unique_ptr<PtyDevice> pty, PtyWatcher& watcher);

    // Writes both pieces to the master (in one write where they fit) while
    // a session takes input; returns what was taken. Without a session, or
    // once the application is gone, everything counts as taken (dropped).
    size_t give(const char* first, size_t first_len, const char* second, size_t second_len);
    // Bytes the runtime still held after its last DIOC_WRITE.
    void set_left(size_t left) { m_from_net_left.store(left); }
    size_t left() const { return m_from_net_left.load(); }

    // The session's Prep was raised: input is taken (`accept`) from now on.
    void open(bool accept);
    // The session ended: input is dropped from now on. True when the
    // session wrote bytes to the pty.
    bool end();
    // Puts `fresh` in place of the pty, input off; returns the old one.
    std::unique_ptr<PtyDevice> replace(std::unique_ptr<PtyDevice> fresh);
    // The watcher saw room: stops watching for it. The runtime's want is
    // then taken with take_space_want().
    void unwatch_space();
    // Whether the runtime waited for room (and no longer does).
    bool take_space_want() { return m_want_space.exchange(false); }

    PtyDevice& pty() { return *m_pty; }
    std::string slave_path() const;
    std::string published_path() const;

private:
    PtyWatcher& m_watcher;
    mutable std::mutex m_lock;
    std::unique_ptr<PtyDevice> m_pty; // guarded for replacement; read freely by the watcher
    bool m_accept = false;            // a session's Prep was raised and it has not ended; guarded
    bool m_written = false;           // the session wrote bytes to the pty; guarded
    std::atomic<bool> m_want_space{false};  // the last give() met a full pty
    std::atomic<size_t> m_from_net_left{0}; // bytes the runtime held after its last DIOC_WRITE
};

} // namespace kolm::platform::portdrv
