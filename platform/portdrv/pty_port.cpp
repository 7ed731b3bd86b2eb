// The pty port's construction, the driver's calls on the runtime's threads,
// and what the watcher thread makes of what it sees on the master and the
// slave. The session's lifecycle is in pty_session.cpp.
#include "portdrv/pty_port.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>

#include <sys/ioctl.h>
#include <termios.h>

#include "internal/machine_root.h"
#include "internal/system.h"
#include "portdrv/port_trace.h"
#include "portdrv/pty_links.h"

namespace kolm::platform::portdrv {

SysResult<std::shared_ptr<PtyPort>> PtyPort::create(PtyPortOptions options)
{
    auto pty = PtyDevice::create(options.group);
    if (!pty)
        return failed(pty.error());
    std::shared_ptr<PtyPort> port(new PtyPort(std::move(options), std::move(pty.value())));
    port->m_self = std::shared_ptr<sys::Pluggable>(port, static_cast<sys::Pluggable*>(port.get()));
    if (!port->m_watcher.open(port->m_opt.port_name))
        return failed(SysError{"watch descriptors", errno});
    int wd = -1;
    if (!port->m_watcher.watch(port->m_input.pty(), wd))
        return failed(SysError{"inotify_add_watch " + port->m_input.pty().slave_path(), errno});
    port->m_opens.watch(wd);
    const std::string published = port->m_input.pty().published_path();
    auto linked = publish_link(port->m_link, published);
    if (!linked)
        return failed(linked.error());
    if (!port->m_opt.extra_link.empty()) {
        auto extra = publish_link(port->m_opt.extra_link, published);
        if (!extra)
            port->m_link_problem = extra.error().message();
    }
    return port;
}

PtyPort::PtyPort(PtyPortOptions options, std::unique_ptr<PtyDevice> pty)
    : m_opt(std::move(options))
    , m_link(machine_dir("dev", 0755) / m_opt.port_name)
    , m_input(std::move(pty), m_watcher)
    , m_output(m_opt.output_capacity)
    , m_commands(m_opt.path)
{
}

PtyPort::~PtyPort()
{
    stop();
    const std::string published = published_path();
    withdraw_link(m_link, published);
    if (!m_opt.extra_link.empty())
        withdraw_link(m_opt.extra_link, published);
}

void PtyPort::attach(std::shared_ptr<PortDriver> driver)
{
    m_commands.attach(driver);
    m_watcher.start(*this);
}

void PtyPort::stop()
{
    m_watcher.stop();
}

void PtyPort::publish(const std::string& slave)
{
    auto linked = publish_link(m_link, slave);
    if (!linked)
        std::fprintf(stderr, "%s: %s: %s\n", program_invocation_short_name, m_opt.port_name.c_str(), linked.error().message().c_str());
    if (!m_opt.extra_link.empty() && m_link_problem.empty()) {
        auto extra = publish_link(m_opt.extra_link, slave);
        if (!extra)
            std::fprintf(stderr, "%s: %s: %s\n", program_invocation_short_name, m_opt.port_name.c_str(), extra.error().message().c_str());
    }
}

// The driver's calls, on the runtime's threads.

size_t PtyPort::take_output(char* dst, size_t max)
{
    bool wake_reader = false;
    const size_t n = m_output.take(dst, max, wake_reader);
    if (wake_reader)
        m_watcher.wake();
    return n;
}

void PtyPort::read_done(size_t moved)
{
    if (m_output.read_done(moved))
        m_watcher.wake();
}

size_t PtyPort::give_input(const char* src, size_t len)
{
    return give_input_pieces(src, len, nullptr, 0);
}

size_t PtyPort::give_input_pieces(const char* first, size_t first_len, const char* second, size_t second_len)
{
    const LineInput::Given g = m_input.give(first, first_len, second, second_len);
    if (g.gathered)
        sys::plug(m_self);
    return g.taken;
}

void PtyPort::unplug()
{
    m_input.unplug();
}

void PtyPort::write_done(size_t taken, size_t left)
{
    (void)taken;
    m_input.set_left(left);
}

void PtyPort::on_subfunction(int subf)
{
    m_watcher.post(subf);
}

void PtyPort::commands_fetched(DWORD bits)
{
    const OutputRing::FetchStep step = m_output.commands_fetched((bits & (1u << CMD_FLUSH_TO_NET)) != 0);
    if (!step.fetch_again && !step.wake_pump)
        return;
    auto d = m_commands.driver();
    if (!d)
        return;
    if (step.fetch_again)
        d->request_fetch();
    if (step.wake_pump)
        d->output_ready();
}

// The watcher thread.

int PtyPort::next_timeout()
{
    Clock::time_point deadline = Clock::time_point::max();
    if (m_commands.retry_pending())
        deadline = std::min(deadline, m_commands.retry_deadline());
    if (m_closing)
        deadline = std::min(deadline, m_closing_deadline);
    if (m_opens.reopen_unsure())
        deadline = std::min(deadline, m_opens.reopen_deadline());
    if (deadline == Clock::time_point::max())
        return -1;
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return static_cast<int>(std::clamp<long long>(left, 0, 60000));
}

void PtyPort::on_ready(const PtyWatcher::Ready& ready)
{
    // Opens first: a Prep comes before what the application then does.
    // A last close reads the master itself before Disc.
    if (ready.inotify)
        on_inotify();
    // Room appears when the application reads or purges its input; a
    // purge's report is already waiting then and must be seen before the
    // runtime is let in to fill the room again.
    if (m_opens.reopen_unsure() && ready.master)
        settle_reopen(false);
    if (ready.master || ready.master_writable)
        read_master();
    if (ready.master_writable)
        on_master_writable();
    if (ready.woken)
        on_wake();
    if (m_closing && closing_drained())
        finish_close();
    on_deadlines();
    // NOTE: the end of the reopen grace may have found a newcomer on the
    // slave; then nothing of the closing session is left to drain, and
    // nothing else would wake this loop before the drain time ends.
    if (m_closing && closing_drained())
        finish_close();
    // Opens and closes read while looking for a newcomer are handled now:
    // inotify will not report them again.
    if (m_opens.has_unhandled())
        on_inotify();
}

void PtyPort::on_deadlines()
{
    if (m_closing && Clock::now() >= m_closing_deadline)
        finish_close();
    if (m_commands.retry_pending() && Clock::now() >= m_commands.retry_deadline())
        m_commands.retry();
    if (m_opens.reopen_unsure() && Clock::now() >= m_opens.reopen_deadline())
        settle_reopen(true);
}

void PtyPort::read_inotify()
{
    m_opens.add_read(m_watcher.read_inotify());
}

void PtyPort::on_inotify()
{
    // A whole queue is read before any of it is handled: a last close must
    // know whether another application has opened the port since.
    read_inotify();
    bool closed = false;
    do {
        m_opens.handle_reads(closed);
        // The slave's state first, then inotify once more: an open or close
        // that the state already shows is then certain to be among the
        // events read, and is counted from them rather than guessed.
        const bool open_now = m_input.pty().slave_open();
        read_inotify();
        if (!m_opens.has_unhandled())
            m_opens.settle(closed, open_now, Clock::now());
    } while (m_opens.has_unhandled());
}

// The master reported HUP or data, or the grace ended, while it was unsure
// whether the slave is open again after a last close.
void PtyPort::settle_reopen(bool grace_over)
{
    if (m_opens.settle_reopen(m_input.pty().slave_open(), grace_over))
        read_master();
}

void PtyPort::read_master()
{
    // A session whose Prep waits keeps its bytes in the pty until then;
    // so does a newcomer that may have opened the port after a last close.
    if (m_prep_deferred || m_opens.reopen_unsure())
        return;
    fill_ring();
}

void PtyPort::output_ready()
{
    if (!m_commands.ended())
        if (auto d = m_commands.driver())
            d->output_ready();
}

bool PtyPort::reopen_queued()
{
    read_inotify();
    return m_opens.reopen_queued();
}

// Reads the master into the ring while there is room, and tells the
// runtime of what it added.
//
// The pty gives the bytes of whoever holds the slave, and inotify tells of
// opens and closes only afterwards: the session we know of may have ended
// and another application opened the port and written since. Its open is
// queued before it can write, so inotify read after each read of the master
// tells, and the bytes reach the ring (and the runtime) only then.
// NOTE: a newcomer's first bytes behind a closing session's last cannot be
// told apart: all of them go to the next session rather than on a
// connection about to end. The older ones then reach the same service a
// moment later; nothing is lost.
void PtyPort::fill_ring()
{
    const int fd = m_input.pty().master();
    const bool eof_before = m_master_eof;
    char buf[kMasterRead + 1]; // one status byte, then data
    bool got = false;
    bool newcomer = false;
    for (;;) {
        // The carry goes in first at the next Prep; take_output wakes us
        // when it makes room.
        const size_t room = m_output.read_room(m_carry.size());
        if (room == 0)
            break;
        const size_t want = std::min(room, sizeof buf - 1);
        const ssize_t n = sys::retry_eintr([&] { return ::read(fd, buf, want + 1); });
        // EAGAIN: all read for now. EIO: all read, and no application has
        // the slave open.
        if (n <= 0) {
            m_master_eof = n < 0 && errno == EIO;
            if (m_master_eof)
                m_closing_unread = false;
            break;
        }
        m_master_eof = false;
        if (buf[0] != TIOCPKT_DATA) {
            handle_status(static_cast<unsigned char>(buf[0]));
            continue;
        }
        const size_t len = static_cast<size_t>(n) - 1;
        if (len == 0)
            continue;
        if (!newcomer)
            newcomer = m_opens.apps() == 0 ? !m_tail_open || eof_before || reopen_queued() : reopen_queued();
        if (newcomer) {
            m_carry.insert(m_carry.end(), buf + 1, buf + n);
            trace("%zu bytes kept for the next session", len);
            continue;
        }
        got = m_output.append(buf + 1, len) || got;
        // A short read took all there was: the runtime is told now, not
        // after the read that finds nothing more. That read is still made:
        // it is the one that tells that the application closed the slave.
        if (got && len < want) {
            output_ready();
            got = false;
        }
    }
    if (got)
        output_ready();
}

void PtyPort::handle_status(unsigned char status)
{
    // Several reports read together arrive as one byte; a settings change
    // is taken first, then the purges.
    if (status & TIOCPKT_IOCTL)
        line_changed();
    // Until the runtime reports the session connected, its queues hold
    // nothing of it (Prep empties them), and a flush it carried out after
    // connecting would drop bytes that arrived after the application's
    // purge. Applications purge right after opening as a rule.
    const bool connected = m_session && m_connected_session == m_session_id;
    if (status & TIOCPKT_FLUSHWRITE) {
        // The pty may still hand over a few bytes written before the flush.
        clear_output();
        if (connected) {
            // NOTE: on the window path the runtime carries the purge out
            // in its window procedure, and nothing it does afterwards
            // reaches the driver; the output cannot be held for it there.
            const bool hold = m_opt.path == CommandPath::Event && !m_commands.ended();
            if (hold)
                m_output.hold_for_flush();
            if (!raise(CMD_FLUSH_TO_NET) && hold)
                clear_output();
        }
    }
    // A FLUSHREAD in the same report as a settings change is the purge a
    // tcsetattr(TCSAFLUSH) makes of the line's own input: not a purge of
    // the port. NOTE: the kernel raises the two a few microseconds apart
    // within one call, so they nearly always arrive together. When the
    // watcher reads in between, the lone FLUSHREAD counts as a purge; the
    // runtime then drops what it held for the application, which TCSAFLUSH
    // asks for anyway. Waiting for a possible IOCTL instead would swallow a
    // real tcflush(TCIFLUSH) followed by a tcsetattr.
    //
    // The runtime carries a purge out later, on another thread, while bytes
    // keep flowing; so FlushFromNet is raised only when its queue held
    // bytes the pty could not take at the last hand-over. Otherwise there
    // is nothing of the application's past in it, and a late purge would
    // drop bytes that arrived after the application's.
    if ((status & TIOCPKT_FLUSHREAD) && !(status & TIOCPKT_IOCTL)) {
        // What the port held behind the full pty is the application's
        // input too. NOTE: the purge makes room in the pty a moment before
        // it reports itself; held bytes written into that room in between
        // reach the application, as bytes the runtime hands over in that
        // moment do.
        m_input.purge();
        if (connected && m_input.left() > 0)
            raise(CMD_FLUSH_FROM_NET);
        offer_space_again();
    }
}

void PtyPort::line_changed()
{
    termios t{};
    if (!m_input.pty().line_settings(t))
        return;
    if (!(t.c_lflag & EXTPROC)) {
        // An application that built its termios from scratch switched off
        // the reports of its later changes. The IOCTL status this causes
        // is read like any other: it shows the same settings.
        t.c_lflag |= EXTPROC;
        m_input.pty().set_line_settings(t);
    }
    const bool b0 = ::cfgetospeed(&t) == B0;
    if (b0 && !m_b0 && m_session)
        raise(CMD_DTR_LOW);
    m_b0 = b0;
}

void PtyPort::on_master_writable()
{
    if (m_input.drain())
        offer_space_again();
}

void PtyPort::on_wake()
{
    for (int subf : m_watcher.take_wake())
        handle_subfunction(subf);
    // take_output may have made room in a full buffer.
    read_master();
}

} // namespace kolm::platform::portdrv
