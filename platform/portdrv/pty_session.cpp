// The sessions of a PtyPort, on its watcher thread: an application's first
// open starts one (Prep), its last close ends it (Disc once the output it
// wrote has been taken), and a hang-up ends it from the runtime's side; the
// runtime's answers are carried out here too.
#include "portdrv/pty_port.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "portdrv/port_trace.h"

namespace kolm::platform::portdrv {

namespace {

// Sessions remembered for answers (CONNECTED / CONNECT_FAILED) of Preps
// that a runtime that is not running will never answer.
constexpr size_t kMaxUnanswered = 16;

} // namespace

// The runtime's answers and notices, in the order it gave them.
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
        if (m_output.count() > 0 && !m_commands.ended())
            if (auto d = m_commands.driver())
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
        m_commands.runtime_ended();
        m_closing = false;
        m_output.stop_delivering();
        clear_output();
        end_input();
        break;
    default:
        break;
    }
}

void PtyPort::first_open()
{
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

void PtyPort::events_lost()
{
    std::fprintf(stderr, "%s: %s: too many opens and closes at once\n", program_invocation_short_name, m_opt.port_name.c_str());
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
        m_output.load(m_carry); // read_master left room for it
        m_carry.clear();
    }
    m_input.open(!m_commands.ended());
    raise(CMD_PREP);
}

void PtyPort::last_close(bool reopened)
{
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
    m_input.pty().reset_line();
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
    m_input.pty().discard_unread_output();
}

// Disc waits until the runtime has taken what the application wrote before
// closing (and come back to find nothing more), so that the disconnect does
// not cut the end of its output off.
void PtyPort::begin_closing()
{
    const OutputRing::CloseState s = m_output.begin_close(m_connected_session == m_session_id, m_master_eof);
    m_closing_unread = s.unread;
    if (!s.wait) {
        finish_close();
        return;
    }
    m_closing = true;
    m_closing_deadline = Clock::now() + m_opt.closing_wait;
}

// The closing session's output is all read from the pty (it reported the
// slave closed) and taken by the runtime. A new application holding the
// slave hides the end of the old output; then only the runtime's part counts.
bool PtyPort::closing_drained() const
{
    if (!m_master_eof && m_opens.apps() == 0)
        return false;
    return m_output.drained();
}

void PtyPort::finish_close()
{
    m_closing = false;
    m_tail_open = false;
    m_output.set_drain_watch(false);
    clear_output();
    // Output of the closed session still in the pty would otherwise be read
    // as the next session's.
    if (m_closing_unread)
        m_input.pty().discard_unread_output();
    m_closing_unread = false;
    raise_disc();
    if (m_session && m_prep_deferred && !m_disc_unacked) {
        raise_prep();
        read_master();
    }
}

bool PtyPort::end_input()
{
    const bool written = m_input.end();
    offer_space_again();
    return written;
}

// The runtime may be waiting for room that will now never come (or has
// just come): it offers its queued bytes again, to have them taken or
// dropped.
void PtyPort::offer_space_again()
{
    if (m_input.take_space_want())
        if (auto d = m_commands.driver())
            d->input_space();
}

void PtyPort::discard_own_input()
{
    m_opens.own_open_begin();
    trace("discarding unread input of session %u", m_session_id);
    const PtyDevice::Discard d = m_input.pty().discard_unread_input();
    m_opens.own_open_end(d.opened);
    if (d.flushed)
        return;
    // The slave could not be flushed; a fresh pty is certain to hold nothing.
    std::fprintf(stderr, "%s: %s: cannot flush the port's input, making it anew\n", program_invocation_short_name, m_opt.port_name.c_str());
    hang_up();
}

void PtyPort::clear_output()
{
    m_output.clear();
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
    if (!fresh || !m_watcher.watch(*fresh.value(), wd)) {
        std::fprintf(stderr, "%s: %s: cannot make the port anew: %s\n", program_invocation_short_name, m_opt.port_name.c_str(),
                     fresh ? std::strerror(errno) : fresh.error().message().c_str());
        m_watcher.unwatch(-1, wd);
        // The application keeps a line that no longer carries anything.
        m_session = false;
        end_input();
        clear_output();
        if (announced)
            raise_disc();
        return;
    }
    publish(fresh.value()->published_path());
    std::unique_ptr<PtyDevice> old = m_input.replace(std::move(fresh.value()));
    offer_space_again();
    m_watcher.unwatch(old->master(), m_opens.wd());
    old.reset();
    m_opens.watch(wd);
    m_generation.fetch_add(1);

    m_session = false;
    m_prep_deferred = false;
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
    if (m_opt.path == CommandPath::Event && !m_commands.ended())
        m_disc_unacked = true;
}

bool PtyPort::raise(int code)
{
    if (m_commands.ended())
        return false;
    trace("raise %#x for session %u", code, m_session_id);
    return m_commands.raise(code);
}

} // namespace kolm::platform::portdrv
