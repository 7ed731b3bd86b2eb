#include "portdrv/pty_input.h"

#include "internal/system.h"

#include <algorithm>
#include <cerrno>

#include <sys/uio.h>

#include "portdrv/port_trace.h"
#include "portdrv/pty_watcher.h"

namespace kolm::platform::portdrv {

LineInput::LineInput(std::unique_ptr<PtyDevice> pty, PtyWatcher& watcher)
    : m_watcher(watcher), m_pty(std::move(pty))
{
}

std::optional<size_t> LineInput::write_locked(const iovec* pieces, int count)
{
    const int fd = m_pty->master();
    size_t held_out = 0; // of m_held, written
    size_t total = 0;    // of pieces, written
    for (;;) {
        // What is not yet written: the rest of the held bytes, then the
        // rest of the pieces, from where the last write ended.
        iovec left[3];
        int n = 0;
        if (held_out < m_held.size())
            left[n++] = {m_held.data() + held_out, m_held.size() - held_out};
        size_t skip = total;
        for (int i = 0; i < count; ++i) {
            if (skip >= pieces[i].iov_len) {
                skip -= pieces[i].iov_len;
                continue;
            }
            left[n++] = {static_cast<char*>(pieces[i].iov_base) + skip, pieces[i].iov_len - skip};
            skip = 0;
        }
        if (n == 0)
            break;
        size_t asked = 0;
        for (int i = 0; i < n; ++i)
            asked += left[i].iov_len;
        const ssize_t w = sys::retry_eintr([&] { return ::writev(fd, left, n); });
        if (w < 0 && errno != EAGAIN) {
            // EIO: the application is already gone; its bytes go nowhere.
            m_held.clear();
            return std::nullopt;
        }
        if (w <= 0)
            break; // full
        m_written = true;
        m_writes.fetch_add(1, std::memory_order_relaxed);
        size_t wrote = static_cast<size_t>(w);
        const size_t from_held = std::min(wrote, m_held.size() - held_out);
        held_out += from_held;
        total += wrote - from_held;
        // A pty takes all it has room for: a short write found it full, and
        // another would only fail.
        if (wrote < asked)
            break;
    }
    m_held.erase(m_held.begin(), m_held.begin() + static_cast<std::ptrdiff_t>(held_out));
    return total;
}

void LineInput::watch_locked(bool on)
{
    if (m_watching == on || !m_pty)
        return;
    m_watching = on;
    m_watcher.watch_for_space(m_pty->master(), on);
}

LineInput::Given LineInput::give(const char* first, size_t first_len, const char* second, size_t second_len)
{
    const size_t len = first_len + second_len;
    std::lock_guard lock(m_lock);
    if (!m_accept || !m_pty) {
        if (len > 0)
            trace("input of %zu dropped: no session takes it", len);
        return {len, false};
    }
    if (!m_watching && m_held.size() + len < kGather) {
        m_held.insert(m_held.end(), first, first + first_len);
        m_held.insert(m_held.end(), second, second + second_len);
        return {len, true};
    }
    const iovec pieces[2] = {{const_cast<char*>(first), first_len}, {const_cast<char*>(second), second_len}};
    size_t total = 0;
    // Behind a full pty a write would only fail: the watcher writes on
    // when the application has read.
    if (!m_watching) {
        const auto written = write_locked(pieces, 2);
        if (!written)
            return {len, false};
        total = *written;
    }
    // The rest is held, as much as fits, behind what already is.
    size_t skip = total;
    for (const iovec& p : pieces) {
        if (skip >= p.iov_len) {
            skip -= p.iov_len;
            continue;
        }
        const size_t take = std::min(p.iov_len - skip, kHeld - std::min(kHeld, m_held.size()));
        const char* from = static_cast<const char*>(p.iov_base) + skip;
        m_held.insert(m_held.end(), from, from + take);
        total += take;
        skip = 0;
    }
    if (!m_held.empty())
        watch_locked(true);
    // The watcher lets the runtime in again once there is room; the want
    // is raised under the lock it drains under, so it cannot be missed.
    if (total < len)
        m_want_space.store(true);
    return {total, false};
}

void LineInput::unplug()
{
    std::lock_guard lock(m_lock);
    // Behind a full pty the watcher writes on; without a session nothing is.
    if (m_watching || !m_accept || !m_pty || m_held.empty())
        return;
    if (write_locked(nullptr, 0) && !m_held.empty())
        watch_locked(true);
}

size_t LineInput::held() const
{
    std::lock_guard lock(m_lock);
    return m_watching ? m_held.size() : 0;
}

bool LineInput::drain()
{
    std::lock_guard lock(m_lock);
    if (!m_pty)
        return false;
    if (m_accept && !m_held.empty())
        write_locked(nullptr, 0);
    if (m_held.empty() || !m_accept) {
        m_held.clear();
        watch_locked(false);
    }
    return m_want_space.load() && kHeld - m_held.size() >= kResume;
}

void LineInput::purge()
{
    std::lock_guard lock(m_lock);
    if (!m_held.empty())
        trace("%zu held bytes purged", m_held.size());
    m_held.clear();
}

void LineInput::open(bool accept)
{
    std::lock_guard lock(m_lock);
    m_accept = accept;
}

bool LineInput::end()
{
    std::lock_guard lock(m_lock);
    m_accept = false;
    m_held.clear();
    const bool written = m_written;
    m_written = false;
    return written;
}

std::unique_ptr<PtyDevice> LineInput::replace(std::unique_ptr<PtyDevice> fresh)
{
    std::lock_guard lock(m_lock);
    m_accept = false;
    m_held.clear();
    // The old pty is unwatched by its owner; the fresh one starts unwatched.
    m_watching = false;
    std::unique_ptr<PtyDevice> old = std::move(m_pty);
    m_pty = std::move(fresh);
    return old;
}

std::string LineInput::slave_path() const
{
    std::lock_guard lock(m_lock);
    return m_pty ? m_pty->slave_path() : std::string();
}

std::string LineInput::published_path() const
{
    std::lock_guard lock(m_lock);
    return m_pty ? m_pty->published_path() : std::string();
}

} // namespace kolm::platform::portdrv
