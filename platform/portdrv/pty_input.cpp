#include "portdrv/pty_input.h"

#include "internal/system.h"

#include <cerrno>

#include <sys/uio.h>

#include "portdrv/port_trace.h"
#include "portdrv/pty_watcher.h"

namespace kolm::platform::portdrv {

LineInput::LineInput(std::unique_ptr<PtyDevice> pty, PtyWatcher& watcher)
    : m_watcher(watcher), m_pty(std::move(pty))
{
}

size_t LineInput::give(const char* first, size_t first_len, const char* second, size_t second_len)
{
    const size_t len = first_len + second_len;
    std::lock_guard lock(m_lock);
    if (!m_accept || !m_pty) {
        if (len > 0)
            trace("input of %zu dropped: no session takes it", len);
        return len;
    }
    const int fd = m_pty->master();
    iovec pieces[2] = { { const_cast<char*>(first), first_len }, { const_cast<char*>(second), second_len } };
    size_t total = 0;
    bool armed = false;
    while (total < len) {
        // The pieces not yet written, from where the last write ended.
        iovec left[2];
        int count = 0;
        size_t skip = total;
        for (const iovec& p : pieces) {
            if (skip >= p.iov_len) {
                skip -= p.iov_len;
                continue;
            }
            left[count++] = { static_cast<char*>(p.iov_base) + skip, p.iov_len - skip };
            skip = 0;
        }
        const ssize_t w = sys::retry_eintr([&] { return ::writev(fd, left, count); });
        if (w > 0) {
            total += static_cast<size_t>(w);
            continue;
        }
        if (w == 0 || errno == EAGAIN) {
            // The watcher reports room only for a want raised before the
            // pty was found full, so the flag is set first and the write
            // tried once more.
            if (armed)
                break;
            m_want_space.store(true);
            m_watcher.watch_for_space(fd, true);
            armed = true;
            continue;
        }
        // EIO: the application is already gone; its bytes go nowhere.
        m_written = m_written || total > 0;
        return len;
    }
    if (total > 0)
        m_written = true;
    return total;
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
    const bool written = m_written;
    m_written = false;
    return written;
}

std::unique_ptr<PtyDevice> LineInput::replace(std::unique_ptr<PtyDevice> fresh)
{
    std::lock_guard lock(m_lock);
    m_accept = false;
    std::unique_ptr<PtyDevice> old = std::move(m_pty);
    m_pty = std::move(fresh);
    return old;
}

// Unwatched first: a give() that finds the pty full again after this
// watches it anew (both under the lock), so no want is lost.
void LineInput::unwatch_space()
{
    std::lock_guard lock(m_lock);
    if (m_pty)
        m_watcher.watch_for_space(m_pty->master(), false);
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
