#include "portdrv/slave_opens.h"

#include <algorithm>
#include <utility>

#include <sys/inotify.h>

#include "portdrv/port_trace.h"

namespace kolm::platform::portdrv {

namespace {

constexpr uint32_t kClosed = IN_CLOSE_WRITE | IN_CLOSE_NOWRITE;

long opens_of(const std::vector<SlaveEvent>& events, size_t from, int wd)
{
    return std::count_if(events.begin() + static_cast<std::ptrdiff_t>(from), events.end(),
                         [wd](const SlaveEvent& e) { return e.wd == wd && (e.mask & IN_OPEN); });
}

} // namespace

void SlaveOpenTracker::watch(int wd)
{
    m_wd = wd;
    m_apps = 0;
    m_apps_seen.store(0);
    m_own_opens = 0;
    m_own_closes = 0;
    m_reopen_unsure = false;
}

void SlaveOpenTracker::own_open_begin()
{
    ++m_own_opens;
    ++m_own_closes;
}

void SlaveOpenTracker::own_open_end(bool opened)
{
    if (!opened) {
        --m_own_opens;
        --m_own_closes;
    }
}

void SlaveOpenTracker::add_read(std::vector<SlaveEvent> events)
{
    if (events.empty())
        return; // our own opens stay counted for the read that has them
    Read read;
    read.events = std::move(events);
    read.own_opens = std::exchange(m_own_opens, 0);
    read.own_closes = std::exchange(m_own_closes, 0);
    m_unhandled.push_back(std::move(read));
}

void SlaveOpenTracker::handle_reads(bool& closed)
{
    while (!m_unhandled.empty()) {
        Read read = std::move(m_unhandled.front());
        m_unhandled.pop_front();
        handle(read, closed);
    }
}

void SlaveOpenTracker::handle(Read& read, bool& app_closed)
{
    for (size_t i = 0; i < read.events.size(); ++i) {
        const SlaveEvent& ev = read.events[i];
        if ((ev.mask & IN_Q_OVERFLOW) && !m_overflow_noted) {
            // FIXME: opens and closes were lost; the count may be off
            // until the pty is next replaced.
            m_overflow_noted = true;
            m_listener.events_lost();
        }
        // NOTE: the listener may replace the slave meanwhile; the rest of
        // this read is then about the old one.
        if (ev.wd != m_wd)
            continue;
        trace("inotify %#x (apps %d, own opens %d, own closes %d)", ev.mask, m_apps, read.own_opens,
              read.own_closes);
        if (ev.mask & IN_OPEN) {
            if (read.own_opens > 0)
                --read.own_opens;
            else
                opened();
        }
        if (ev.mask & kClosed) {
            // Our own descriptor is read-only.
            if (read.own_closes > 0 && (ev.mask & IN_CLOSE_NOWRITE)) {
                --read.own_closes;
            } else {
                app_closed = true;
                // Opens beyond our own still to come in this read are
                // applications that came after this close.
                closed(opens_of(read.events, i + 1, m_wd) > read.own_opens);
            }
        }
    }
}

// NOTE: a close is reported before the pty has taken it in, so right after
// one the slave may still look open; that the slave is closed (HUP) is
// certain at any time.
void SlaveOpenTracker::settle(bool app_closed, bool open_now, Clock::time_point now)
{
    trace("after inotify: apps %d, slave %s", m_apps, open_now ? "open" : "closed");
    if (open_now && m_apps == 0 && !app_closed) {
        opened();
    } else if (open_now && m_apps == 0) {
        if (!m_reopen_unsure) {
            m_reopen_unsure = true;
            m_reopen_deadline = now + kReopenGrace;
        }
    } else if (!open_now && m_apps > 0) {
        m_apps = 1;
        closed(false);
    }
    if (!open_now || m_apps > 0)
        m_reopen_unsure = false;
}

bool SlaveOpenTracker::settle_reopen(bool open_now, bool grace_over)
{
    if (open_now && !grace_over)
        return false;
    m_reopen_unsure = false;
    if (open_now) {
        trace("slave still open after a close: an application's open went unreported");
        opened();
    }
    return true;
}

bool SlaveOpenTracker::reopen_queued() const
{
    int apps = m_apps;
    bool ended = apps == 0;
    for (const Read& read : m_unhandled) {
        int own_opens = read.own_opens, own_closes = read.own_closes;
        for (const SlaveEvent& ev : read.events) {
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
            if (ev.mask & kClosed) {
                if (own_closes > 0 && (ev.mask & IN_CLOSE_NOWRITE))
                    --own_closes;
                else if (apps > 0 && --apps == 0)
                    ended = true;
            }
        }
    }
    return false;
}

void SlaveOpenTracker::opened()
{
    m_apps_seen.store(++m_apps);
    if (m_apps == 1)
        m_listener.first_open();
}

void SlaveOpenTracker::closed(bool reopened)
{
    if (m_apps == 0)
        return; // opened before the watch began
    m_apps_seen.store(--m_apps);
    if (m_apps == 0)
        m_listener.last_close(reopened);
}

} // namespace kolm::platform::portdrv
