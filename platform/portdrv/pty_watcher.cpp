// The watcher thread of a PtyPort: reads the application's output and the
// pty's status reports from the master, counts opens and closes of the slave
// with inotify, and carries out the runtime's answers. Everything below runs
// on that one thread; the runtime's threads only queue work and wake it.
#include "portdrv/pty_port.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include <sys/epoll.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>


namespace kolm::platform::portdrv {

namespace {

// Sub-functions remembered for answers (CONNECTED / CONNECT_FAILED) of
// sessions whose Prep a runtime that is not running will never answer.
constexpr size_t kMaxUnanswered = 16;

} // namespace

void PtyPort::run()
{
    epoll_event events[8];
    while (!m_stop.load()) {
        const int n = ::epoll_wait(m_epoll, events, 8, next_timeout());
        if (n < 0) {
            if (errno == EINTR)
                continue;
            std::fprintf(stderr, "kolm32: %s: watcher stopped: %s\n", m_opt.port_name.c_str(), std::strerror(errno));
            return;
        }
        bool inotify_ready = false, woken = false, master_ready = false, master_writable = false;
        for (int i = 0; i < n; ++i) {
            const int fd = events[i].data.fd;
            if (fd == m_inotify) {
                inotify_ready = true;
            } else if (fd == m_wake) {
                woken = true;
            } else if (fd == m_pty->master()) {
                master_ready |= (events[i].events & (EPOLLIN | EPOLLHUP | EPOLLERR)) != 0;
                master_writable |= (events[i].events & EPOLLOUT) != 0;
            }
        }
        if (m_stop.load())
            return;
        // Opens first: a Prep comes before what the application then does.
        // A last close reads the master itself before Disc.
        if (inotify_ready)
            on_inotify();
        // Room appears when the application reads or purges its input;
        // a purge's report is already waiting then and must be seen
        // before the runtime is let in to fill the room again.
        if (master_ready || master_writable)
            read_master();
        if (master_writable)
            on_master_writable();
        if (woken)
            on_wake();
        if (m_closing && closing_drained())
            finish_close();
        on_deadlines();
    }
}

int PtyPort::next_timeout() const
{
    Clock::time_point deadline = Clock::time_point::max();
    if (m_retry_pending)
        deadline = std::min(deadline, m_retry_deadline);
    if (m_closing)
        deadline = std::min(deadline, m_closing_deadline);
    if (deadline == Clock::time_point::max())
        return -1;
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return static_cast<int>(std::clamp<long long>(left, 0, 60000));
}

void PtyPort::on_deadlines()
{
    if (m_closing && Clock::now() >= m_closing_deadline)
        finish_close();
    if (m_retry_pending && Clock::now() >= m_retry_deadline)
        retry_unreached();
}

void PtyPort::on_inotify()
{
    alignas(inotify_event) char buf[4096];
    bool app_closes = false;
    for (;;) {
        const ssize_t n = ::read(m_inotify, buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        for (char* p = buf; p < buf + n;) {
            const auto* ev = reinterpret_cast<const inotify_event*>(p);
            p += sizeof(inotify_event) + ev->len;
            if ((ev->mask & IN_Q_OVERFLOW) && !m_overflow_noted) {
                // FIXME: opens and closes were lost; the count may be off
                // until the pty is next replaced.
                m_overflow_noted = true;
                std::fprintf(stderr, "kolm32: %s: too many opens and closes at once\n", m_opt.port_name.c_str());
            }
            if (ev->wd != m_wd)
                continue; // a slave replaced since
            if (ev->mask & IN_OPEN) {
                if (m_own_opens > 0)
                    --m_own_opens;
                else
                    app_opened();
            }
            if (ev->mask & (IN_CLOSE_WRITE | IN_CLOSE_NOWRITE)) {
                // Our own descriptor is read-only.
                if (m_own_closes > 0 && (ev->mask & IN_CLOSE_NOWRITE)) {
                    --m_own_closes;
                } else {
                    app_closes = true;
                    app_closed();
                }
            }
        }
    }
    // inotify merges an event with an identical one still unread (two
    // opens in a row, or two closes), so the count can drift; once every
    // event is read, the master tells whether anyone has the slave open.
    // NOTE: a close is reported before the pty has taken it in, so right
    // after one the slave may still look open; that the slave is closed
    // (HUP) is certain at any time.
    const bool open_now = m_pty->slave_open();
    if (open_now && m_apps == 0 && !app_closes) {
        app_opened();
    } else if (!open_now && m_apps > 0) {
        m_apps = 1;
        app_closed();
    }
}

void PtyPort::app_opened()
{
    m_apps_seen.store(++m_apps);
    if (m_apps != 1)
        return;
    m_session = true;
    if (++m_session_id == 0)
        m_session_id = 1;
    // On the event path the runtime handles the bits it fetched together in
    // a fixed order, Prep before Disc: a Prep raised before the previous
    // Disc was handled would be undone by it.
    if (m_closing || m_disc_unacked)
        m_prep_deferred = true;
    else
        raise_prep();
}

void PtyPort::raise_prep()
{
    m_prep_deferred = false;
    m_preps_unanswered.push_back(m_session_id);
    if (m_preps_unanswered.size() > kMaxUnanswered)
        m_preps_unanswered.pop_front();
    clear_output();
    {
        std::lock_guard lock(m_in_lock);
        m_accept_input = !m_exited;
    }
    raise(CMD_PREP);
}

void PtyPort::app_closed()
{
    if (m_apps == 0)
        return; // opened before the watch began
    m_apps_seen.store(--m_apps);
    if (m_apps > 0)
        return;
    const bool announced = m_session && !m_prep_deferred;
    if (announced)
        read_master(); // what it wrote and did before closing comes before Disc
    m_session = false;
    m_prep_deferred = false;
    // NOTE: the pty keeps what the application left unread for the next
    // one; only a flush from the slave side removes it, and the open that
    // takes is an inotify event like an application's, which inotify may
    // merge with one of theirs. So it is done only when there can be
    // something to remove.
    if (end_input())
        discard_own_input();
    m_pty->reset_line();
    m_b0 = false;
    if (announced) {
        begin_closing();
        return;
    }
    // It opened and closed while its Prep waited for the previous session's
    // Disc: the runtime never hears of it, and what it wrote must not be
    // read as the next session's.
    clear_output();
    m_pty->discard_unread_output();
}

// Disc waits until the runtime has taken what the application wrote before
// closing (and come back to find nothing more), so that the disconnect does
// not cut the end of its output off.
void PtyPort::begin_closing()
{
    bool wait = false;
    {
        std::lock_guard lock(m_out_lock);
        // NOTE: inotify reports the close before the pty has taken it in,
        // so the last bytes may still be on their way to the master.
        wait = m_connected_session == m_session_id && m_delivering
            && (m_out_count > 0 || m_out_unconfirmed || m_reader_stalled || !m_master_eof);
        m_drain_watch = wait;
        m_closing_unread = m_reader_stalled;
    }
    if (!wait) {
        finish_close();
        return;
    }
    m_closing = true;
    m_closing_deadline = Clock::now() + m_opt.closing_wait;
}

void PtyPort::finish_close()
{
    m_closing = false;
    {
        std::lock_guard lock(m_out_lock);
        m_drain_watch = false;
    }
    clear_output();
    // Output of the closed session still in the pty would otherwise be read
    // as the next session's.
    if (m_closing_unread)
        m_pty->discard_unread_output();
    m_closing_unread = false;
    raise_disc();
    if (m_session && m_prep_deferred && !m_disc_unacked) {
        raise_prep();
        read_master();
    }
}

bool PtyPort::end_input()
{
    bool written = false;
    {
        std::lock_guard lock(m_in_lock);
        m_accept_input = false;
        written = m_input_written;
        m_input_written = false;
    }
    // The runtime may be waiting for room that will now never come: let it
    // offer its queued bytes again, to have them dropped.
    if (m_want_space.exchange(false))
        if (auto d = m_driver.lock())
            d->input_space();
    return written;
}

void PtyPort::discard_own_input()
{
    ++m_own_opens;
    ++m_own_closes;
    const PtyDevice::Discard d = m_pty->discard_unread_input();
    if (!d.opened) {
        --m_own_opens;
        --m_own_closes;
    }
    if (d.flushed)
        return;
    // The slave could not be flushed; a fresh pty is certain to hold nothing.
    std::fprintf(stderr, "kolm32: %s: cannot flush the port's input, making it anew\n", m_opt.port_name.c_str());
    hang_up();
}

void PtyPort::clear_output()
{
    std::lock_guard lock(m_out_lock);
    m_out_head = 0;
    m_out_count = 0;
    m_out_unconfirmed = false;
    m_reader_stalled = false;
}

void PtyPort::read_master()
{
    // A session whose Prep waits keeps its bytes in the pty until then.
    if (m_prep_deferred)
        return;
    const int fd = m_pty->master();
    char buf[4096 + 1]; // one status byte, then data
    bool got = false;
    for (;;) {
        size_t room = 0;
        {
            std::lock_guard lock(m_out_lock);
            room = m_out.size() - m_out_count;
            if (room == 0)
                m_reader_stalled = true; // take_output wakes us when it makes room
        }
        if (room == 0)
            break;
        const ssize_t n = ::read(fd, buf, std::min(room, sizeof buf - 1) + 1);
        if (n < 0 && errno == EINTR)
            continue;
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
        std::lock_guard lock(m_out_lock);
        if (!m_delivering || len == 0)
            continue;
        const size_t cap = m_out.size();
        const size_t tail = (m_out_head + m_out_count) % cap;
        const size_t first = std::min(len, cap - tail);
        std::memcpy(m_out.data() + tail, buf + 1, first);
        std::memcpy(m_out.data(), buf + 1 + first, len - first);
        m_out_count += len;
        got = true;
    }
    if (got && !m_exited)
        if (auto d = m_driver.lock())
            d->output_ready();
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
        if (connected)
            raise(CMD_FLUSH_TO_NET);
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
    if ((status & TIOCPKT_FLUSHREAD) && !(status & TIOCPKT_IOCTL) && connected && m_from_net_left.load() > 0)
        raise(CMD_FLUSH_FROM_NET);
}

void PtyPort::line_changed()
{
    termios t{};
    if (!m_pty->line_settings(t))
        return;
    if (!(t.c_lflag & EXTPROC)) {
        // An application that built its termios from scratch switched off
        // the reports of its later changes. The IOCTL status this causes
        // is read like any other: it shows the same settings.
        t.c_lflag |= EXTPROC;
        m_pty->set_line_settings(t);
    }
    const bool b0 = ::cfgetospeed(&t) == B0;
    if (b0 && !m_b0 && m_session)
        raise(CMD_DTR_LOW);
    m_b0 = b0;
}

void PtyPort::on_master_writable()
{
    if (m_want_space.exchange(false))
        if (auto d = m_driver.lock())
            d->input_space();
}

void PtyPort::on_wake()
{
    uint64_t count;
    while (::read(m_wake, &count, sizeof count) < 0 && errno == EINTR) {
    }
    std::vector<int> subs;
    {
        std::lock_guard lock(m_sub_lock);
        subs.swap(m_subs);
    }
    for (int subf : subs)
        handle_subfunction(subf);
    // take_output may have made room in a full buffer.
    read_master();
}

// The closing session's output is all read from the pty (it reported the
// slave closed) and taken by the runtime. A new application holding the
// slave hides the end of the old output; then only the runtime's part counts.
bool PtyPort::closing_drained() const
{
    if (!m_master_eof && m_apps == 0)
        return false;
    std::lock_guard lock(m_out_lock);
    return m_out_count == 0 && !m_out_unconfirmed && !m_reader_stalled;
}

void PtyPort::handle_subfunction(int subf)
{
    auto answered = [this] {
        if (m_preps_unanswered.empty())
            return 0u;
        const unsigned id = m_preps_unanswered.front();
        m_preps_unanswered.pop_front();
        return id;
    };
    const bool current = m_session && !m_prep_deferred;
    switch (subf) {
    case SUBF_CONNECTED: {
        const unsigned id = answered();
        if (!current || id != m_session_id)
            break; // the session it answers has ended
        m_connected_session = id;
        m_connected_seen.store(true);
        // Output that waited for the connection: the pump exists now.
        if (buffered_output() > 0 && !m_exited)
            if (auto d = m_driver.lock())
                d->output_ready();
        break;
    }
    case SUBF_CONNECT_FAILED:
        if (answered() == m_session_id && current)
            hang_up();
        break;
    case SUBF_NET_CLOSED:
        // NOTE: one that comes before the session's SUBF_CONNECTED is the
        // late report of the previous connection's pump (its receive fails
        // when that connection is torn down), and the new connection is
        // sound. A far end that drops the new connection before the
        // runtime reports it connected looks the same and is not turned
        // into a hang-up.
        if (current && m_connected_session == m_session_id)
            hang_up();
        else if (m_closing)
            finish_close(); // nobody left to take the closing session's output
        break;
    case SUBF_DISC_DONE:
        m_disc_unacked = false;
        if (m_session && m_prep_deferred && !m_closing) {
            raise_prep();
            read_master();
        }
        break;
    case SUBF_APP_EXIT:
        m_exited = true;
        m_closing = false;
        {
            std::lock_guard lock(m_out_lock);
            m_delivering = false;
            m_drain_watch = false;
        }
        clear_output();
        end_input();
        break;
    default:
        break;
    }
}

// The line lost carrier: every application holding the slave sees a
// hang-up, and a fresh pty takes the port's name for the next session.
// NOTE: a pty slave can be hung up in place only with CAP_SYS_TTY_CONFIG
// (TIOCVHANGUP); closing the master does it for any user.
void PtyPort::hang_up()
{
    const bool announced = m_session && !m_prep_deferred;
    auto fresh = PtyDevice::create();
    int wd = -1;
    if (!fresh || !watch(*fresh.value(), wd)) {
        std::fprintf(stderr, "kolm32: %s: cannot make the port anew: %s\n", m_opt.port_name.c_str(),
                     fresh ? std::strerror(errno) : fresh.error().message().c_str());
        if (wd >= 0)
            ::inotify_rm_watch(m_inotify, wd);
        // The application keeps a line that no longer carries anything.
        m_session = false;
        end_input();
        clear_output();
        if (announced)
            raise_disc();
        return;
    }
    publish(fresh.value()->slave_path());
    std::unique_ptr<PtyDevice> old;
    {
        std::lock_guard lock(m_in_lock);
        m_accept_input = false;
        old = std::move(m_pty);
        m_pty = std::move(fresh.value());
    }
    if (m_want_space.exchange(false))
        if (auto d = m_driver.lock())
            d->input_space();
    ::inotify_rm_watch(m_inotify, m_wd);
    m_wd = wd;
    ::epoll_ctl(m_epoll, EPOLL_CTL_DEL, old->master(), nullptr);
    old.reset();
    m_generation.fetch_add(1);

    m_apps = 0;
    m_apps_seen.store(0);
    m_own_opens = 0;
    m_own_closes = 0;
    m_session = false;
    m_prep_deferred = false;
    m_b0 = false;
    m_connected_session = 0;
    m_connected_seen.store(false);
    clear_output();
    if (announced)
        raise_disc();
}

void PtyPort::raise_disc()
{
    m_connected_session = 0;
    m_connected_seen.store(false);
    raise(CMD_DISC);
    if (m_opt.path == CommandPath::Event && !m_exited)
        m_disc_unacked = true;
}

void PtyPort::raise(int code)
{
    if (m_exited)
        return;
    auto d = m_driver.lock();
    if (!d)
        return;
    const bool reachable = runtime_reachable(*d);
    d->raise_command(code, 0);
    if (reachable)
        return;
    // The runtime has not published its command event or window yet (an
    // application opened the port while the runtime was starting): the
    // command is handed over again once it has.
    if (m_opt.path == CommandPath::Window || m_unreached.empty())
        m_unreached.push_back(code);
    if (!m_retry_pending) {
        m_retry_pending = true;
        m_retry_wait = std::chrono::milliseconds(20);
        m_retry_deadline = Clock::now() + m_retry_wait;
    }
}

void PtyPort::retry_unreached()
{
    auto d = m_driver.lock();
    if (!d || m_exited) {
        m_retry_pending = false;
        m_unreached.clear();
        return;
    }
    if (!runtime_reachable(*d)) {
        m_retry_wait = std::min(m_retry_wait * 2, std::chrono::milliseconds(1000));
        m_retry_deadline = Clock::now() + m_retry_wait;
        return;
    }
    m_retry_pending = false;
    // On the event path the bits wait in the driver; raising one of them
    // again signals the event. On the window path each lost message is sent.
    for (int code : m_unreached)
        d->raise_command(code, 0);
    m_unreached.clear();
}

} // namespace kolm::platform::portdrv
