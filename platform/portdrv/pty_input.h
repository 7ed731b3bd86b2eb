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
// While the pty has room, the pieces the pump hands over one after the
// other are gathered instead, up to kGather bytes, and written in one go
// when the pump is about to wait (the caller plugs its thread with the
// port, see internal/thread_plug.h) or once a write's worth has gathered:
// a pty write costs a wake-up of the kernel's tty worker and of the
// application, whatever its size. A byte that is the last of what the
// network sent is still written before the pump sleeps, so nothing waits
// for more input to push it out.
//
// Threads: give(), unplug() and set_left() on the runtime's pump thread;
// open(), end(), replace(), drain(), purge(), take_space_want() and pty()
// on the watcher thread (which alone replaces the pty, and so reads it
// freely); slave_path(), published_path(), held(), writes() and left()
// from any thread.
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
    static constexpr size_t kHeld = 32768;
    // Room in the held bytes at which a waiting runtime is let in again.
    static constexpr size_t kResume = kHeld / 2;
    // Most bytes gathered for one write while the pty has room.
    // NOTE: measured on loopback against a reader taking all it can: 16 KiB
    // moved a tenth more than 8 KiB; 32 KiB, more than a pty takes at once,
    // moved less again.
    static constexpr size_t kGather = 16384;

    struct Given {
        size_t taken;  // of the pieces, taken (written, held or dropped)
        bool gathered; // bytes wait for unplug(): the caller's thread must plug
    };

    LineInput(std::unique_ptr<PtyDevice> pty, PtyWatcher& watcher);

    // Gathers both pieces while a session takes input and the pty has
    // room, or writes what is held and then both pieces to the master,
    // holding what the pty cannot take yet. Without a session, or once the
    // application is gone, everything counts as taken (dropped).
    Given give(const char* first, size_t first_len, const char* second, size_t second_len);
    // Writes what was gathered; what the pty cannot take stays held for
    // the watcher.
    void unplug();
    // Bytes the runtime still held after its last DIOC_WRITE.
    void set_left(size_t left) { m_from_net_left.store(left); }
    size_t left() const { return m_from_net_left.load(); }
    // Bytes held behind a full pty (not those gathered while it has room).
    size_t held() const;
    // Writes into the pty so far.
    size_t writes() const { return m_writes.load(); }

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
    // Bytes gathered (the pty had room) or behind a full pty (m_watching),
    // oldest first; guarded.
    std::vector<char> m_held;
    std::atomic<bool> m_want_space{false};  // the runtime could not hand over all it had
    std::atomic<size_t> m_from_net_left{0}; // bytes the runtime held after its last DIOC_WRITE
    std::atomic<size_t> m_writes{0};        // successful writes into the pty
};

} // namespace kolm::platform::portdrv
