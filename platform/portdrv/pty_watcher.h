// The thread that watches a pty port: one epoll over the pty master
// (edge-triggered data, status and, only while asked for, room), inotify on
// the slave (its opens and closes), and an eventfd through which other
// threads wake it. It owns those three descriptors and the thread; what
// the events mean is its handler's business (PtyPort), which runs on this
// thread alone.
//
// Threads: open(), watch() and start() before the thread runs; watch(),
// unwatch(), read_inotify() and take_wake() on the watcher thread (from the
// handler); post(), wake() and watch_for_space() from any thread; stop()
// from the owner, never from the watcher thread. The posted sub-functions
// are guarded by m_post_lock.
#pragma once

#include "internal/waker.h"
#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "portdrv/slave_opens.h"

namespace kolm::platform::portdrv {

class PtyDevice;

class PtyWatcher {
public:
    // What one wait found.
    struct Ready {
        bool inotify = false;         // opens or closes of the slave are queued
        bool woken = false;           // another thread posted or woke
        bool master = false;          // data, status or a hang-up on the master
        bool master_writable = false; // room on the master
    };
    class Handler {
    public:
        virtual ~Handler() = default;
        // Milliseconds until the handler's next deadline; -1 for none.
        virtual int next_timeout() = 0;
        virtual void on_ready(const Ready& ready) = 0;
    };

    PtyWatcher() = default;
    ~PtyWatcher(); // stops the thread, then closes the descriptors
    PtyWatcher(const PtyWatcher&) = delete;
    PtyWatcher& operator=(const PtyWatcher&) = delete;

    // Makes the epoll, inotify and eventfd descriptors for the port named
    // `port_name`; false (errno set) when one cannot be made.
    bool open(const std::string& port_name);
    // Watches a pty: the slave's opens and closes, and the master. The
    // master is edge-triggered: after the last close it would report HUP
    // at every level-triggered wait. False (errno set) on failure, with
    // `wd` set if the slave's watch was made.
    bool watch(PtyDevice& pty, int& wd);
    // Stops watching a pty being replaced (or a watch made for one that
    // could not be watched whole: `master` -1).
    void unwatch(int master, int wd);
    // Adds room on the master to what is waited for, or takes it out again.
    // NOTE: room is watched only while the runtime waits for it. Watched
    // all the time, every read the application makes wakes the watcher (an
    // edge per read), once for every piece the runtime hands over.
    void watch_for_space(int master, bool on);

    // Everything inotify has queued now, in order.
    std::vector<SlaveEvent> read_inotify();
    // Resets the wake-up and hands over what was posted, oldest first.
    std::vector<int> take_wake();

    void start(Handler& handler);
    // Ends the thread and waits for it; a later start() is not possible.
    void stop();
    // Queues a sub-function of the runtime's for the handler, and wakes it.
    void post(int subf);
    void wake();

private:
    void run(Handler& handler);

    std::string m_port_name; // for messages
    int m_epoll = -1;   // owned: master, inotify and wake-up descriptors
    int m_inotify = -1; // owned: opens and closes of the slave
    Waker m_wake;       // other threads' posts and the stop
    int m_master = -1;  // the master watched now; watcher thread (or before it starts)
    std::thread m_thread;
    std::atomic<bool> m_stop{false};
    std::mutex m_post_lock;
    std::vector<int> m_posted; // guarded by m_post_lock
};

} // namespace kolm::platform::portdrv
