// The application's output on its way to the runtime: a ring of fixed
// capacity that the watcher fills from the pty master and the runtime's
// driver-to-network pump empties with DIOC_READ.
//
// Threads: the fill side (read_room, append, clear, load, stop_delivering,
// set_drain_watch, begin_close, hold_for_flush) on the port's watcher
// thread; the take side (take, read_done) on the runtime's pump thread;
// commands_fetched on the runtime's command service thread; the observers
// from any thread. Every field is guarded by m_lock; nothing here blocks or calls
// out.
//
// Backpressure: when the ring cannot take a whole read of the master while
// the runtime still has bytes to take, the watcher stops reading the
// master (the reader is "stalled"), and take() tells its caller to wake the
// watcher once a whole read's worth of room is free again.
#pragma once

#include <cstddef>
#include <mutex>
#include <vector>

namespace kolm::platform::portdrv {

class OutputRing {
public:
    // Most bytes one read of the master takes, and the least room the
    // watcher waits for while the runtime still has output to take.
    static constexpr size_t kMasterRead = 4096;

    explicit OutputRing(size_t capacity);

    // Pump thread. Copies up to `max` held bytes into `dst`; `wake_reader`
    // is set when the watcher stopped reading for want of room and now has
    // it. Nothing is taken once delivery stopped, or while a purge holds
    // the output back.
    size_t take(char* dst, size_t max, bool& wake_reader);
    // Pump thread: one DIOC_READ moved `moved` bytes in all. True when a
    // drain the watcher waits for may have completed.
    bool read_done(size_t moved);

    // Watcher. Room for the next read of the master, keeping `reserved`
    // bytes free; 0 (and the reader marked stalled) when it should wait.
    size_t read_room(size_t reserved);
    // Appends bytes read from the master (as many as fit); false, and
    // nothing kept, once delivery stopped.
    bool append(const char* src, size_t len);
    // Drops everything held, and a purge's hold.
    void clear();
    // Empties the ring and fills it with `bytes` (at most the capacity).
    void load(const std::vector<char>& bytes);
    // The runtime ended: nothing is taken or added from now on.
    void stop_delivering();
    void set_drain_watch(bool on);

    // The application purged its output and FlushToNet is about to be
    // raised. The runtime empties its to-network queue only once it has
    // fetched the command, and what it takes meanwhile would go with it:
    // so what the application writes after the purge is held here until
    // the runtime has carried the purge out. Its command service handles
    // what one fetch brings before it fetches again, so the fetch after
    // the one that brought FlushToNet marks the purge as done.
    void hold_for_flush();
    // Command service thread: the runtime fetched its commands, FlushToNet
    // among them (`flush`) or not.
    struct FetchStep {
        bool fetch_again = false; // have the runtime fetch once more (signal its command event)
        bool wake_pump = false;   // the hold ended with bytes waiting
    };
    FetchStep commands_fetched(bool flush);
    bool flush_held() const;

    // Whether a closing session must wait for its output to drain, and
    // whether part of it is still in the pty (the reader was stalled).
    struct CloseState {
        bool wait = false;
        bool unread = false;
    };
    // Decides it for a session the runtime reported connected or not,
    // whose master reported the slave closed (`eof`) or not, and starts
    // watching the drain when it waits.
    CloseState begin_close(bool connected, bool eof);

    // Any thread.
    size_t count() const;
    bool delivering() const;
    // Nothing held, nothing taken that the runtime has not confirmed, and
    // the reader not stalled.
    bool drained() const;

private:
    mutable std::mutex m_lock;
    std::vector<char> m_buf;        // the ring: capacity bytes
    size_t m_head = 0;              // index of the oldest byte
    size_t m_count = 0;             // bytes held
    bool m_reader_stalled = false;  // the watcher stopped reading the master: ring full
    bool m_unconfirmed = false;     // bytes were taken and no DIOC_READ has since found nothing
    bool m_drain_watch = false;     // a last close waits for the ring to drain
    bool m_delivering = true;       // false once the runtime has ended
    enum class Hold {
        None,
        UntilFetched,  // FlushToNet raised, not yet fetched
        UntilNextFetch // fetched; carried out once the runtime fetches again
    } m_hold = Hold::None;
};

} // namespace kolm::platform::portdrv
