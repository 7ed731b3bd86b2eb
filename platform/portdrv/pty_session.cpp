// The sessions of a PtyPort, on its watcher thread: an application's first
// open starts one (Prep), its last close ends it (Disc once the output it
// wrote has been taken), and a hang-up ends it from the runtime's side.
#include "portdrv/pty_port.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include <sys/epoll.h>
#include <sys/inotify.h>
#include <unistd.h>

namespace kolm::platform::portdrv {

namespace {

// Sessions remembered for answers (CONNECTED / CONNECT_FAILED) of Preps
// that a runtime that is not running will never answer.
constexpr size_t kMaxUnanswered = 16;

} // namespace

void PtyPort::app_opened()
{
    m_apps_seen.store(++m_apps);
    if (m_apps != 1)
        return;
    m_master_eof = false; // the slave is open again
    m_session = true;
    if (++m_session_id == 0)
        m_session_id = 1;
    trace("session %u opened%s", m_session_id, m_closing || m_disc_unacked ? ", Prep deferred" : "");
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
    // What the pty gave before this application was known to have the
    // port open is its own (read_master kept it apart).
    clear_output();
    if (!m_carry.empty()) {
        std::lock_guard lock(m_out_lock);
        const size_t n = std::min(m_carry.size(), m_out.size()); // read_master leaves room for it
        std::memcpy(m_out.data(), m_carry.data(), n);
        m_out_count = n;
        m_carry.clear();
    }
    {
        std::lock_guard lock(m_in_lock);
        m_accept_input = !m_exited;
    }
    raise(CMD_PREP);
}

void PtyPort::app_closed(bool reopened)
{
    if (m_apps == 0)
        return; // opened before the watch began
    m_apps_seen.store(--m_apps);
    if (m_apps > 0)
        return;
    const bool announced = m_session && !m_prep_deferred;
    trace("session %u closed%s%s", m_session_id, announced ? "" : " before its Prep",
          reopened ? ", another application has opened" : "");
    // What it wrote and did before closing comes before Disc. NOTE: once
    // another application has opened the port, the pty may hold its first
    // bytes behind the closing one's last: they cannot be told apart, and
    // are left for the next session rather than sent on a connection that
    // is about to end.
    m_tail_open = announced && !reopened;
    if (m_tail_open)
        read_master();
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
    m_carry.clear();
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
    m_tail_open = false;
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
    trace("discarding unread input of session %u", m_session_id);
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
// The line lost carrier: every application holding the slave sees a
// hang-up, and a fresh pty takes the port's name for the next session.
// NOTE: a pty slave can be hung up in place only with CAP_SYS_TTY_CONFIG
// (TIOCVHANGUP); closing the master does it for any user.
void PtyPort::hang_up()
{
    trace("session %u hung up", m_session_id);
    const bool announced = m_session && !m_prep_deferred;
    auto fresh = PtyDevice::create(m_opt.group);
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
    publish(fresh.value()->published_path());
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
    m_reopen_unsure = false;
    m_tail_open = false;
    m_carry.clear();
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
    trace("raise %#x for session %u", code, m_session_id);
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
    // On the event path the bits wait in the driver, and the runtime may
    // have fetched them already (it looks when it registers): the event is
    // signalled again only for bits still waiting, since raising them anew
    // would hand the runtime a second Prep. On the window path each lost
    // message is sent.
    if (m_opt.path == CommandPath::Event) {
        trace("the runtime can be reached now");
        d->signal_pending_commands();
    } else {
        for (int code : m_unreached)
            d->raise_command(code, 0);
    }
    m_unreached.clear();
}

} // namespace kolm::platform::portdrv
