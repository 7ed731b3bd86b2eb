// Counts the applications that hold a port's pty slave open, from the
// opens and closes inotify reports on it, and tells when the first open
// starts a session and the last close ends it. It does no I/O: the watcher
// reads inotify and the slave's state and hands both in, so the tracker can
// be driven by a table of event sequences.
//
// Two things make the count uncertain, and are handled here:
// - the port's own opens of the slave (to throw away unread input) are
//   reported like an application's; the watcher counts them in
//   (own_open_begin / own_open_end) and they are matched against the
//   events of the next read of inotify, in which they are certain to be;
// - inotify merges an event with an identical one still unread (two opens
//   in a row, or two closes), so once every event is read the slave's own
//   state (open or not) settles the count.
//
// Threads: the port's watcher thread only; applications() from any thread.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <vector>

namespace kolm::platform::portdrv {

// An open or close of the slave as inotify reported it.
struct SlaveEvent {
    int wd;
    uint32_t mask;
};

class SlaveOpenTracker {
public:
    using Clock = std::chrono::steady_clock;
    // After a last close the slave may still look open for a moment (the
    // pty has not yet taken the close in); this long the tracker waits for
    // it before counting it as an open it was not told of.
    static constexpr std::chrono::milliseconds kReopenGrace{100};

    // What the session hears. Called from inside the tracker's calls; a
    // listener may call own_open_begin/own_open_end and watch() meanwhile.
    class Listener {
    public:
        virtual ~Listener() = default;
        // The first application opened the slave.
        virtual void first_open() = 0;
        // The last one closed it; `reopened`: another application's open
        // follows this close among the events already read.
        virtual void last_close(bool reopened) = 0;
        // inotify lost events (its queue overflowed); told once.
        virtual void events_lost() = 0;
    };

    explicit SlaveOpenTracker(Listener& listener) : m_listener(listener) {}

    // A fresh slave, watched as `wd`: nobody has it open.
    void watch(int wd);
    int wd() const { return m_wd; }

    // The port opens (and closes) the slave itself; `opened`: it did.
    void own_open_begin();
    void own_open_end(bool opened);

    // One read of inotify (empty when nothing was queued). The own opens
    // and closes made since the last read are in it.
    void add_read(std::vector<SlaveEvent> events);
    bool has_unhandled() const { return !m_unhandled.empty(); }
    // Handles every read added so far; `closed` is set when an
    // application's close was among them.
    void handle_reads(bool& closed);
    // Once every event is read: the slave is open (`open_now`) or not,
    // and `closed` tells whether a close was just handled.
    void settle(bool closed, bool open_now, Clock::time_point now);

    // Whether, beyond what was handled, the reads hold the last close of
    // the port followed by an application's open.
    bool reopen_queued() const;

    // After a last close the slave still looked open: either the pty has
    // not yet taken the close in, or a newcomer's open was merged with one
    // of ours. Until it is settled, bytes in the pty may be the newcomer's.
    bool reopen_unsure() const { return m_reopen_unsure; }
    Clock::time_point reopen_deadline() const { return m_reopen_deadline; }
    // The master showed data or a hang-up, or the grace ended
    // (`grace_over`); the slave is open now (`open_now`) or not. False
    // while it stays unsure.
    bool settle_reopen(bool open_now, bool grace_over);

    // Applications holding the slave, as counted.
    int apps() const { return m_apps; }
    // The same, for other threads.
    int applications() const { return m_apps_seen.load(); }

private:
    struct Read {
        std::vector<SlaveEvent> events;
        int own_opens = 0;
        int own_closes = 0;
    };
    void handle(Read& read, bool& closed);
    void opened();
    void closed(bool reopened);

    Listener& m_listener;
    int m_wd = -1;               // inotify watch of the current slave
    int m_apps = 0;              // application opens minus closes
    std::atomic<int> m_apps_seen{0};
    int m_own_opens = 0;         // own opens made since inotify was last read
    int m_own_closes = 0;        // own closes likewise
    std::deque<Read> m_unhandled; // read from inotify, not yet handled
    bool m_reopen_unsure = false;
    Clock::time_point m_reopen_deadline{};
    bool m_overflow_noted = false;
};

} // namespace kolm::platform::portdrv
