// Threads started with CreateThread: a waitable object that is signalled,
// with its exit code, when the thread ends.
#pragma once

#include <condition_variable>

#include "kernel/sync.h"

namespace kolm::platform {

// The least stack any thread gets. Windows 95 programs ask for 4096 or
// 0x500 bytes; the code under them here (SQLite, the resolver, this layer)
// needs far more.
constexpr size_t kThreadStackFloor = 256 * 1024;
// What a request of 0 ("the default") gets.
constexpr size_t kThreadStackDefault = 1024 * 1024;

// The stack a thread asking for `requested` bytes can really use: at least
// the floor, rounded up to whole pages.
size_t thread_stack_size(size_t requested);

class ThreadObject final : public Waitable {
public:
    bool signalled_locked() const override { return m_finished; }

    // STILL_ACTIVE while the thread runs.
    DWORD exit_code() const;
    bool finished() const;
    DWORD thread_id() const;

    // Called on the thread itself.
    void started(DWORD id);
    void finish(DWORD code);
    // Called by the creator: blocks until started() has run.
    DWORD wait_started();

private:
    std::condition_variable m_started_cv;
    DWORD m_id = 0;          // guarded by the sync lock; 0 until started
    bool m_finished = false; // guarded by the sync lock
    DWORD m_exit = STILL_ACTIVE;
};

} // namespace kolm::platform
