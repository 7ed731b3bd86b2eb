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
// The port is made of pieces that each own one thing: the pty and the
// network's bytes into it (LineInput), the application's output toward the
// runtime (OutputRing), the count of applications on the slave
// (SlaveOpenTracker), the commands toward the runtime (RuntimeCommands),
// and the watcher thread with its descriptors (PtyWatcher). This class is
// the session: it turns what the watcher sees into commands, carries out
// the runtime's answers, and holds the session's state, which only the
// watcher thread touches.
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
#include <string>
#include <vector>

#include <unistd.h>

#include "internal/thread_plug.h"
#include "portdrv/port_driver.h"
#include "portdrv/pty_device.h"
#include "portdrv/pty_input.h"
#include "portdrv/pty_output.h"
#include "portdrv/pty_watcher.h"
#include "portdrv/runtime_commands.h"
#include "portdrv/slave_opens.h"

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

class PtyPort final : public AppSide,
                      private SlaveOpenTracker::Listener,
                      private PtyWatcher::Handler,
                      private sys::Pluggable {
public:
    static constexpr size_t kMasterRead = OutputRing::kMasterRead;

    static SysResult<std::shared_ptr<PtyPort>> create(PtyPortOptions options);
    ~PtyPort() override;
    PtyPort(const PtyPort&) = delete;
    PtyPort& operator=(const PtyPort&) = delete;

    // Connects the port to its driver and starts watching the application.
    void attach(std::shared_ptr<PortDriver> driver);
    // Stops the watcher (also done by the destructor, which then hangs up
    // any application and removes the links).
    void stop();

    // Observers, from any thread.
    std::filesystem::path link_path() const { return m_link; }
    const std::filesystem::path& extra_link() const { return m_opt.extra_link; }
    // Why the extra link could not be published; empty when it was.
    const std::string& link_problem() const { return m_link_problem; }
    // The slave the port is now (it changes at every hang-up), and the
    // name the links point at, which leads to it (PtyDevice::published_path).
    std::string slave_path() const { return m_input.slave_path(); }
    std::string published_path() const { return m_input.published_path(); }
    // Ptys made so far: 1, plus one per hang-up.
    unsigned generation() const { return m_generation.load(); }
    // Opens minus closes of the slave by applications, as last counted.
    int applications() const { return m_opens.applications(); }
    size_t buffered_output() const { return m_output.count(); }
    // Network bytes the port holds behind a full pty.
    size_t held_input() const { return m_input.held(); }
    // Writes of network bytes into the pty so far.
    size_t input_writes() const { return m_input.writes(); }
    // The runtime reported the current session connected.
    bool connected() const { return m_connected_seen.load(); }
    // The runtime said it is ending (SUBF_APP_EXIT): nothing is delivered.
    bool runtime_ended() const { return !m_output.delivering(); }

    // The driver's calls, on the runtime's threads (pty_port.cpp).
    size_t take_output(char* dst, size_t max) override;
    void read_done(size_t moved) override;
    size_t give_input(const char* src, size_t len) override;
    size_t give_input_pieces(const char* first, size_t first_len, const char* second, size_t second_len) override;
    void write_done(size_t taken, size_t left) override;
    void on_subfunction(int subf) override;
    void commands_fetched(DWORD bits) override;

private:
    using Clock = std::chrono::steady_clock;

    PtyPort(PtyPortOptions options, std::unique_ptr<PtyDevice> pty);
    void publish(const std::string& slave);
    // Input gathered on the pump's thread goes into the pty (sys::unplug).
    void unplug() override;

    // Everything below runs on the watcher thread.
    // What the watcher saw (pty_port.cpp).
    int next_timeout() override;
    void on_ready(const PtyWatcher::Ready& ready) override;
    void on_inotify();
    void read_inotify();
    void settle_reopen(bool grace_over);
    void on_deadlines();
    void read_master();
    void fill_ring();
    void output_ready(); // tells the runtime the ring holds output
    bool reopen_queued();
    void handle_status(unsigned char status);
    void line_changed();
    void on_master_writable();
    void on_wake();

    // The session (pty_session.cpp).
    void handle_subfunction(int subf);
    void first_open() override;
    void last_close(bool reopened) override;
    void events_lost() override;
    void raise_prep();
    void begin_closing();
    bool closing_drained() const;
    void finish_close();
    void hang_up();
    bool end_input(); // true when the session wrote to the pty
    void discard_own_input();
    void clear_output();
    void raise_disc();
    bool raise(int code); // false when nothing was raised
    void offer_space_again();

    const PtyPortOptions m_opt;
    const std::filesystem::path m_link; // dev/<port_name>
    std::string m_link_problem;         // set by create(), then read-only
    std::weak_ptr<sys::Pluggable> m_self; // set by create(): what a pump's thread plugs

    // The pieces. The watcher is declared before what its thread uses and
    // stopped first (in stop()), so no piece is gone while it runs.
    PtyWatcher m_watcher;
    LineInput m_input;
    OutputRing m_output;
    SlaveOpenTracker m_opens{*this};
    RuntimeCommands m_commands;

    // For observers on other threads; written by the watcher.
    std::atomic<unsigned> m_generation{1};
    std::atomic<bool> m_connected_seen{false};

    // The session: watcher thread only.
    bool m_session = false;       // an application has the port open
    unsigned m_session_id = 0;    // numbers sessions; 0 = none
    bool m_prep_deferred = false; // the session's Prep waits for the previous Disc
    std::deque<unsigned> m_preps_unanswered; // sessions whose Prep awaits CONNECTED/CONNECT_FAILED
    unsigned m_connected_session = 0;        // session the runtime reported connected; 0 = none
    bool m_disc_unacked = false;  // Disc raised on the event path, SUBF_DISC_DONE not yet seen
    bool m_closing = false;       // last close waits for its output to drain
    bool m_closing_unread = false; // the closed session's output is not all read from the pty
    bool m_master_eof = false;    // the last read of the master gave EIO: all read, slave closed
    Clock::time_point m_closing_deadline{};
    bool m_b0 = false;            // the line's speed is B0
    std::vector<char> m_carry;    // output read at a close that may be the next session's
    bool m_tail_open = false;     // a closed session's last bytes may still come from the pty
};

} // namespace kolm::platform::portdrv
