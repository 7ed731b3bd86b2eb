// The port's pty, and the bytes from the network written into it for the
// application.
//
// The runtime's network-to-driver pump writes with give() (DIOC_WRITE)
// while the watcher may replace the pty at a hang-up or end a session: both
// happen under m_lock, so no write can land in a pty after its session
// ended, or in the next session's pty.
//
// When the application reads more slowly than the network sends, the pty
// fills. The port then holds up to kHeld bytes of its own behind it, as a
// serial port's receive buffer would, and the watcher writes them on as
// the pty makes room (EPOLLOUT). Only when that buffer is full is the
// runtime told to wait, and it is let in again (take_space_want) once half
// of it is free: so a slow reader costs a wake-up of the runtime per few
// KiB, not per piece of its 1024-byte queue.
//
// Threads: give() and set_left() on the runtime's pump thread; open(),
// end(), replace(), drain(), purge(), take_space_want() and pty() on the
// watcher thread (which alone replaces the pty, and so reads it freely);
// slave_path(), published_path(), held() and left() from any thread.
#pragma once

#include <atomic>
#include <cstddef>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "portdrv/pty_device.h"

struct iovec;

namespace kolm::platform::portdrv {

class PtyWatcher;

class LineInput {
public:
    // Most bytes held behind a full pty.
    static constexpr size_t kHeld = 16384;
    // Room in the held bytes at which a waiting runtime is let in again.
    static constexpr size_t kResume = kHeld / 2;

    LineInput(std::unique_ptr<PtyDevice> pty, PtyWatcher& watcher);

    // Writes what is held and then both pieces to the master while a
    // session takes input, holding what the pty cannot take yet; returns
    // what was taken. Without a session, or once the application is gone,
    // everything counts as taken (dropped).
    size_t give(const char* first, size_t first_len, const char* second, size_t second_len);
    // Bytes the runtime still held after its last DIOC_WRITE.
    void set_left(size_t left) { m_from_net_left.store(left); }
    size_t left() const { return m_from_net_left.load(); }
    // Bytes held behind the pty.
    size_t held() const;

    // The session's Prep was raised: input is taken (`accept`) from now on.
    void open(bool accept);
    // The session ended: input is dropped from now on, and what is held.
    // True when the session wrote bytes to the pty.
    bool end();
    // Puts `fresh` in place of the pty, input off; returns the old one.
    std::unique_ptr<PtyDevice> replace(std::unique_ptr<PtyDevice> fresh);
    // The watcher saw room: writes what is held, and stops watching for
    // room once nothing is. True when the runtime waits for room and should
    // now be let in (take_space_want).
    bool drain();
    // The application purged its input: what is held for it goes too.
    void purge();
    // Whether the runtime waited for room (and no longer does).
    bool take_space_want() { return m_want_space.exchange(false); }

    PtyDevice& pty() { return *m_pty; }
    std::string slave_path() const;
    std::string published_path() const;

private:
    // Writes the held bytes, then `pieces`, until the pty is full; returns
    // how many of `pieces` went, or nullopt when the application is gone.
    // Lock held.
    std::optional<size_t> write_locked(const iovec* pieces, int count);
    void watch_locked(bool on);

    PtyWatcher& m_watcher;
    mutable std::mutex m_lock;
    std::unique_ptr<PtyDevice> m_pty; // guarded for replacement; read freely by the watcher
    bool m_accept = false;            // a session's Prep was raised and it has not ended; guarded
    bool m_written = false;           // the session wrote bytes to the pty; guarded
    bool m_watching = false;          // EPOLLOUT is asked for; guarded
    std::vector<char> m_held;         // bytes behind a full pty, oldest first; guarded
    std::atomic<bool> m_want_space{false};  // the runtime could not hand over all it had
    std::atomic<size_t> m_from_net_left{0}; // bytes the runtime held after its last DIOC_WRITE
};

} // namespace kolm::platform::portdrv
