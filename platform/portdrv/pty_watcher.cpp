// The watcher thread of a PtyPort: reads the application's output and the
// pty's status reports from the master, counts opens and closes of the slave
// with inotify, and carries out the runtime's answers. Everything below runs
// on that one thread; the runtime's threads only queue work and wake it.
#include "portdrv/pty_port.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>

#include <sys/epoll.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace kolm::platform::portdrv {

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
        if (m_reopen_unsure && master_ready)
            settle_reopen(false);
        if (master_ready || master_writable)
            read_master();
        if (master_writable)
            on_master_writable();
        if (woken)
            on_wake();
        if (m_closing && closing_drained())
            finish_close();
        on_deadlines();
        // NOTE: the end of the reopen grace may have found a newcomer on
        // the slave; then nothing of the closing session is left to drain,
        // and nothing else would wake this loop before the drain time ends.
        if (m_closing && closing_drained())
            finish_close();
        // Opens and closes read while looking for a newcomer are handled
        // now: inotify will not report them again.
        if (!m_unhandled.empty())
            on_inotify();
    }
}

int PtyPort::next_timeout() const
{
    Clock::time_point deadline = Clock::time_point::max();
    if (m_retry_pending)
        deadline = std::min(deadline, m_retry_deadline);
    if (m_closing)
        deadline = std::min(deadline, m_closing_deadline);
    if (m_reopen_unsure)
        deadline = std::min(deadline, m_reopen_deadline);
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
    if (m_reopen_unsure && Clock::now() >= m_reopen_deadline)
        settle_reopen(true);
}

// Reads what inotify has queued as one chunk. Our own opens and closes made
// since the last read are in it (inotify queues them as they happen), after
// whatever was already queued then.
void PtyPort::read_inotify()
{
    SlaveEvents chunk;
    chunk.own_opens = std::exchange(m_own_opens, 0);
    chunk.own_closes = std::exchange(m_own_closes, 0);
    alignas(inotify_event) char buf[4096];
    for (;;) {
        const ssize_t n = ::read(m_inotify, buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        for (char* p = buf; p < buf + n;) {
            const auto* ev = reinterpret_cast<const inotify_event*>(p);
            p += sizeof(inotify_event) + ev->len;
            chunk.events.push_back({ev->wd, ev->mask});
        }
    }
    if (chunk.events.empty()) {
        m_own_opens += chunk.own_opens;
        m_own_closes += chunk.own_closes;
        return;
    }
    m_unhandled.push_back(std::move(chunk));
}

namespace {

long opens_of(const std::vector<PtyPort::SlaveEvent>& events, size_t from, int wd)
{
    return std::count_if(events.begin() + static_cast<std::ptrdiff_t>(from), events.end(),
                         [wd](const PtyPort::SlaveEvent& e) { return e.wd == wd && (e.mask & IN_OPEN); });
}

} // namespace

void PtyPort::on_inotify()
{
    // A whole queue is read before any of it is handled: a last close must
    // know whether another application has opened the port since.
    read_inotify();
    bool app_closes = false;
    do {
        while (!m_unhandled.empty()) {
            SlaveEvents chunk = std::move(m_unhandled.front());
            m_unhandled.pop_front();
            handle_slave_events(chunk, app_closes);
        }
        // The slave's state first, then inotify once more: an open or close
        // that the state already shows is then certain to be among the
        // events read, and is counted from them rather than guessed.
        const bool open_now = m_pty->slave_open();
        read_inotify();
        if (m_unhandled.empty())
            settle_count(app_closes, open_now);
    } while (!m_unhandled.empty());
}

void PtyPort::handle_slave_events(SlaveEvents& chunk, bool& app_closes)
{
    for (size_t i = 0; i < chunk.events.size(); ++i) {
        const SlaveEvent& ev = chunk.events[i];
        if ((ev.mask & IN_Q_OVERFLOW) && !m_overflow_noted) {
            // FIXME: opens and closes were lost; the count may be off
            // until the pty is next replaced.
            m_overflow_noted = true;
            std::fprintf(stderr, "kolm32: %s: too many opens and closes at once\n", m_opt.port_name.c_str());
        }
        if (ev.wd != m_wd)
            continue; // a slave replaced since
        trace("inotify %#x (apps %d, own opens %d, own closes %d)", ev.mask, m_apps, chunk.own_opens,
              chunk.own_closes);
        if (ev.mask & IN_OPEN) {
            if (chunk.own_opens > 0)
                --chunk.own_opens;
            else
                app_opened();
        }
        if (ev.mask & (IN_CLOSE_WRITE | IN_CLOSE_NOWRITE)) {
            // Our own descriptor is read-only.
            if (chunk.own_closes > 0 && (ev.mask & IN_CLOSE_NOWRITE)) {
                --chunk.own_closes;
            } else {
                app_closes = true;
                // Opens beyond our own still to come in this chunk are
                // applications that came after this close.
                app_closed(opens_of(chunk.events, i + 1, m_wd) > chunk.own_opens);
            }
        }
    }
}

// inotify merges an event with an identical one still unread (two opens in
// a row, or two closes), so the count can drift; once every event is read,
// the master tells whether anyone has the slave open.
// NOTE: a close is reported before the pty has taken it in, so right after
// one the slave may still look open; that the slave is closed (HUP) is
// certain at any time.
void PtyPort::settle_count(bool app_closes, bool open_now)
{
    trace("after inotify: apps %d, slave %s", m_apps, open_now ? "open" : "closed");
    if (open_now && m_apps == 0 && !app_closes) {
        app_opened();
    } else if (open_now && m_apps == 0) {
        // Either the pty has not yet taken in the close just reported, or
        // an application opened the port and its open was merged with one
        // of ours. Until the hang-up shows (or a short grace ends with the
        // slave still open), bytes in the pty may be the newcomer's and
        // are not read as the closed session's.
        if (!m_reopen_unsure) {
            m_reopen_unsure = true;
            m_reopen_deadline = Clock::now() + kReopenGrace;
        }
    } else if (!open_now && m_apps > 0) {
        m_apps = 1;
        app_closed(false);
    }
    if (!open_now || m_apps > 0)
        m_reopen_unsure = false;
}

// The master reported HUP or data, or the grace ended, while it was unsure
// whether the slave is open again after a last close.
void PtyPort::settle_reopen(bool grace_over)
{
    if (m_pty->slave_open()) {
        if (!grace_over)
            return;
        m_reopen_unsure = false;
        trace("slave still open after a close: an application's open went unreported");
        app_opened();
    } else {
        m_reopen_unsure = false;
    }
    read_master();
}

void PtyPort::read_master()
{
    // A session whose Prep waits keeps its bytes in the pty until then;
    // so does a newcomer that may have opened the port after a last close.
    if (m_prep_deferred || m_reopen_unsure)
        return;
    if (fill_ring() && !m_exited)
        if (auto d = m_driver.lock())
            d->output_ready();
}

// Whether inotify has, beyond what was handled, the last close of the port
// followed by an application's open.
bool PtyPort::reopen_queued()
{
    read_inotify();
    int apps = m_apps;
    bool ended = apps == 0;
    for (const SlaveEvents& chunk : m_unhandled) {
        int own_opens = chunk.own_opens, own_closes = chunk.own_closes;
        for (const SlaveEvent& ev : chunk.events) {
            if (ev.wd != m_wd)
                continue;
            if (ev.mask & IN_OPEN) {
                if (own_opens > 0)
                    --own_opens;
                else if (ended)
                    return true;
                else
                    ++apps;
            }
            if (ev.mask & (IN_CLOSE_WRITE | IN_CLOSE_NOWRITE)) {
                if (own_closes > 0 && (ev.mask & IN_CLOSE_NOWRITE))
                    --own_closes;
                else if (apps > 0 && --apps == 0)
                    ended = true;
            }
        }
    }
    return false;
}

// Reads the master into the ring while there is room. Returns whether
// data was added.
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
bool PtyPort::fill_ring()
{
    const int fd = m_pty->master();
    const bool eof_before = m_master_eof;
    char buf[kMasterRead + 1]; // one status byte, then data
    bool got = false;
    bool newcomer = false;
    for (;;) {
        size_t room = 0;
        {
            std::lock_guard lock(m_out_lock);
            room = m_out.size() - m_out_count - m_carry.size(); // the carry goes in first at the next Prep
            // NOTE: while the runtime still has bytes to take, the master is
            // read only once a whole read's worth of room is free: reading
            // into every scrap of room the runtime leaves costs a read (and
            // a look at inotify) per piece it takes.
            if (room == 0 || (room < kMasterRead && m_out_count > 0)) {
                m_reader_stalled = true; // take_output wakes us when it makes room
                room = 0;
            }
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
        if (len == 0)
            continue;
        if (!newcomer)
            newcomer = m_apps == 0 ? !m_tail_open || eof_before || reopen_queued() : reopen_queued();
        if (newcomer) {
            m_carry.insert(m_carry.end(), buf + 1, buf + n);
            trace("%zu bytes kept for the next session", len);
            continue;
        }
        std::lock_guard lock(m_out_lock);
        if (!m_delivering)
            continue;
        const size_t cap = m_out.size();
        const size_t tail = (m_out_head + m_out_count) % cap;
        const size_t first = std::min(len, cap - tail);
        std::memcpy(m_out.data() + tail, buf + 1, first);
        std::memcpy(m_out.data(), buf + 1 + first, len - first);
        m_out_count += len;
        got = true;
    }
    return got;
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
    // Unwatched first: a give_input that finds the pty full again after
    // this watches it anew (both under the input lock), so no want is lost.
    {
        std::lock_guard lock(m_in_lock);
        if (m_pty)
            watch_for_space(m_pty->master(), false);
    }
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
    trace("subfunction %d (session %u%s, connected %u)", subf, m_session_id, current ? "" : ", not current",
          m_connected_session);
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
        // NOTE: the runtime reports a close of the session's connection only
        // after SUBF_CONNECTED (a far end that drops the connection while it
        // is being set up is reported once it is up). One that comes before
        // is a late report of an earlier connection, and is not turned into
        // a hang-up of the new session.
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

} // namespace kolm::platform::portdrv
