// The application side of the port driver for users: the redirected COM port
// is a pseudo-terminal. An application opens its slave (through the link
// dev/<PORTNAME> in the machine root) and uses it like a serial line; a
// watcher thread turns what it does into driver commands:
//
//   open (the first one)            -> Prep
//   close (the last one)            -> Disc, once its output has been taken
//   speed set to B0 (drops DTR)     -> DTRLow, once per change to B0
//   tcflush(TCOFLUSH)               -> FlushToNet (held output is dropped)
//   tcflush(TCIFLUSH)               -> FlushFromNet
//
// Purges are passed on only once the runtime has reported the session
// connected (before that its queues hold nothing of the session), and
// FlushFromNet only while the runtime holds bytes the pty could not take.
//
// A tcsetattr(TCSAFLUSH) also purges the line's input and the pty reports it
// with the same FLUSHREAD status as tcflush(TCIFLUSH); it is a change of line
// settings, not a purge, and is told apart by the IOCTL status every termios
// change brings in the same report (EXTPROC is kept set for that). A real
// tcflush(TCIFLUSH) merged with a settings change in one report cannot be
// told apart and counts as the settings change.
//
// Bytes from the network are written to the pty only while an application
// has the slave open; what the runtime hands over at other times is taken
// and dropped (nobody is there to read it, and the pty would otherwise give
// it to the next application that opens the port). When the runtime reports
// that the connection failed or ended, the application sees a hang-up, as on
// a serial line that lost carrier: the pty is closed and a fresh one is
// published under the same link, so the next open starts a clean session.
//
// What the pty cannot show: several termios changes read together show
// only the last (a B0 restored at once may go unseen); two opens (or two
// closes) by different applications at the same instant may reach the
// driver as one, which the master's hang-up state corrects once the slave
// is closed; an application that opens and closes the port while the
// previous session's Disc is still being handled never reaches the runtime.
//
// The owner keeps its own reference to the port and calls stop() before
// letting it go: the driver's reference alone must not be the last one.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <deque>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <unistd.h>

#include "portdrv/port_driver.h"
#include "portdrv/pty_device.h"

namespace kolm::platform::portdrv {

struct PtyPortOptions {
    std::string port_name;                 // "COM3": published as dev/COM3 in the machine root
    std::filesystem::path extra_link;       // also published here when not empty
    gid_t group = ::getgid();               // owning group of the pseudo-terminal (mode 0660)
    CommandPath path = CommandPath::Event;  // Disc is acknowledged (SUBF_DISC_DONE) only on the event path
    size_t output_capacity = 32 * 1024;     // bytes of application output held for the runtime
    // How long a last close waits for the runtime to take what the
    // application wrote before closing, before Disc is raised anyway.
    std::chrono::milliseconds closing_wait{3000};
};

class PtyPort final : public AppSide {
public:
    // Most bytes one read of the master takes, and the least room it waits
    // for while the runtime still has output to take.
    static constexpr size_t kMasterRead = 4096;

    // An open or close of the slave as inotify reported it.
    struct SlaveEvent {
        int wd;
        uint32_t mask;
    };

    static SysResult<std::shared_ptr<PtyPort>> create(PtyPortOptions options);
    ~PtyPort() override;
    PtyPort(const PtyPort&) = delete;
    PtyPort& operator=(const PtyPort&) = delete;

    // Connects the port to its driver and starts watching the application.
    void attach(std::shared_ptr<PortDriver> driver);
    // Stops the watcher (also done by the destructor, which then hangs up
    // any application and removes the links).
    void stop();

    std::filesystem::path link_path() const { return m_link; }
    const std::filesystem::path& extra_link() const { return m_opt.extra_link; }
    // Why the extra link could not be published; empty when it was.
    const std::string& link_problem() const { return m_link_problem; }
    // The slave the port is now (it changes at every hang-up), and the
    // name the links point at, which leads to it (PtyDevice::published_path).
    std::string slave_path() const;
    std::string published_path() const;
    // Ptys made so far: 1, plus one per hang-up.
    unsigned generation() const { return m_generation.load(); }
    // Opens minus closes of the slave by applications, as last counted.
    int applications() const { return m_apps_seen.load(); }
    size_t buffered_output() const;
    // The runtime reported the current session connected.
    bool connected() const { return m_connected_seen.load(); }
    // The runtime said it is ending (SUBF_APP_EXIT): nothing is delivered.
    bool runtime_ended() const;

    size_t take_output(char* dst, size_t max) override;
    void read_done(size_t moved) override;
    size_t give_input(const char* src, size_t len) override;
    size_t give_input_pieces(const char* first, size_t first_len, const char* second, size_t second_len) override;
    void write_done(size_t taken, size_t left) override;
    void on_subfunction(int subf) override;

private:
    using Clock = std::chrono::steady_clock;
    // Events of one read of inotify, and how many of them are our own.
    struct SlaveEvents {
        std::vector<SlaveEvent> events;
        int own_opens = 0;
        int own_closes = 0;
    };
    void handle_slave_events(SlaveEvents& chunk, bool& app_closes);
    void settle_count(bool app_closes, bool open_now);

    PtyPort(PtyPortOptions options, std::unique_ptr<PtyDevice> pty);
    bool open_watch_fds();
    void publish(const std::string& slave);
    void wake();

    // The watcher thread (pty_watcher.cpp).
    void run();
    int next_timeout() const;
    void read_inotify();
    bool reopen_queued();
    void on_inotify();
    void on_master_writable();
    void on_wake();
    bool closing_drained() const;
    void on_deadlines();
    void settle_reopen(bool grace_over);
    void handle_subfunction(int subf);
    void read_master();
    bool fill_ring();
    void handle_status(unsigned char status);
    void line_changed();
    void app_opened();
    // reopened: another application opened the slave after this close.
    void app_closed(bool reopened);
    void raise_prep();
    void begin_closing();
    void finish_close();
    void hang_up();
    bool end_input(); // true when the session wrote to the pty
    void discard_own_input();
    // Adds room on the master to what the watcher waits for, or takes it
    // out again. Called with m_in_lock held.
    void watch_for_space(int master, bool on);
    void clear_output();
    void raise_disc();
    void raise(int code);
    bool runtime_reachable(PortDriver& driver) const;
    void retry_unreached();
    bool watch(PtyDevice& pty, int& wd);
    // With KOLM_PORT_TRACE set, one line per session event on stderr.
    static void trace(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

    const PtyPortOptions m_opt;
    const std::filesystem::path m_link; // dev/<port_name>
    std::string m_link_problem;
    std::weak_ptr<PortDriver> m_driver;
    std::thread m_watcher;
    std::atomic<bool> m_stop{false};
    int m_epoll = -1;   // master, inotify and wake-up descriptors
    int m_inotify = -1; // opens and closes of the slave
    int m_wake = -1;    // eventfd: runtime threads and stop() wake the watcher

    // Network input. give_input writes to the master under m_in_lock; the
    // watcher replaces the pty and switches input off under it, so no write
    // can land in a pty after its session ended.
    mutable std::mutex m_in_lock;
    std::unique_ptr<PtyDevice> m_pty; // guarded for replacement; read freely by the watcher
    bool m_accept_input = false;      // a session's Prep was raised and it has not ended; guarded
    bool m_input_written = false;     // the session wrote bytes to the pty; guarded
    std::atomic<bool> m_want_space{false}; // the last give_input met a full pty
    std::atomic<size_t> m_from_net_left{0}; // bytes the runtime still held after its last DIOC_WRITE

    // Application output waiting for the runtime: a ring of m_opt.output_capacity.
    mutable std::mutex m_out_lock;
    std::vector<char> m_out;         // guarded
    size_t m_out_head = 0;           // index of the oldest byte; guarded
    size_t m_out_count = 0;          // bytes held; guarded
    bool m_reader_stalled = false;   // the watcher stopped reading the master: ring full; guarded
    bool m_out_unconfirmed = false;  // bytes were taken and no DIOC_READ has since found nothing; guarded
    bool m_drain_watch = false;      // a last close waits for the ring to drain; guarded
    bool m_delivering = true;        // false once the runtime has ended; guarded

    // Sub-functions from the runtime, in order, for the watcher.
    std::mutex m_sub_lock;
    std::vector<int> m_subs; // guarded

    std::atomic<int> m_apps_seen{0};
    std::atomic<unsigned> m_generation{1};
    std::atomic<bool> m_connected_seen{false};

    // Watcher-only state.
    int m_wd = -1;                // inotify watch of the current slave
    int m_apps = 0;               // application opens minus closes
    int m_own_opens = 0;          // own opens made since inotify was last read
    int m_own_closes = 0;         // own closes likewise
    bool m_session = false;       // an application has the port open
    unsigned m_session_id = 0;    // numbers sessions; 0 = none
    bool m_prep_deferred = false; // the session's Prep waits for the previous Disc
    std::deque<unsigned> m_preps_unanswered; // sessions whose Prep awaits CONNECTED/CONNECT_FAILED
    unsigned m_connected_session = 0;        // session the runtime reported connected
    bool m_disc_unacked = false;  // Disc raised on the event path, SUBF_DISC_DONE not yet seen
    bool m_closing = false;       // last close waits for its output to drain
    bool m_closing_unread = false; // the closed session's output is not all read from the pty
    bool m_master_eof = false;    // the last read of the master gave EIO: all read, slave closed
    Clock::time_point m_closing_deadline{};
    bool m_b0 = false;            // the line's speed is B0
    bool m_exited = false;        // SUBF_APP_EXIT seen
    bool m_retry_pending = false; // commands raised before the runtime could be reached
    std::vector<int> m_unreached; // their codes (one is enough on the event path)
    std::chrono::milliseconds m_retry_wait{0};
    Clock::time_point m_retry_deadline{};
    bool m_overflow_noted = false;
    // After a last close the slave still looked open: not yet taken in by
    // the pty, or a newcomer whose open inotify merged with one of ours.
    bool m_reopen_unsure = false;
    std::deque<SlaveEvents> m_unhandled; // read from inotify, not yet handled
    std::vector<char> m_carry; // output read at a close that may be the next session's
    bool m_tail_open = false;  // a closed session's last bytes may still come from the pty
    Clock::time_point m_reopen_deadline{};
    static constexpr std::chrono::milliseconds kReopenGrace{100};
};

} // namespace kolm::platform::portdrv
