#include "portdrv/pty_output.h"

#include <algorithm>
#include <cstring>

namespace kolm::platform::portdrv {

OutputRing::OutputRing(size_t capacity) : m_buf(std::max<size_t>(capacity, 2)) {}

size_t OutputRing::take(char* dst, size_t max, bool& wake_reader)
{
    wake_reader = false;
    std::lock_guard lock(m_lock);
    if (!m_delivering || m_hold != Hold::None)
        return 0;
    const size_t n = std::min(max, m_count);
    const size_t cap = m_buf.size();
    const size_t first = std::min(n, cap - m_head);
    std::memcpy(dst, m_buf.data() + m_head, first);
    std::memcpy(dst + first, m_buf.data(), n - first);
    m_head = (m_head + n) % cap;
    m_count -= n;
    if (n > 0)
        m_unconfirmed = true;
    if (m_reader_stalled && (m_count == 0 || cap - m_count >= kMasterRead)) {
        m_reader_stalled = false;
        wake_reader = true;
    }
    return n;
}

bool OutputRing::read_done(size_t moved)
{
    std::lock_guard lock(m_lock);
    // A read that finds nothing means the runtime has dealt with what it
    // took before: its pump sends between two reads.
    m_unconfirmed = moved > 0;
    return m_drain_watch && m_count == 0 && !m_unconfirmed;
}

size_t OutputRing::read_room(size_t reserved)
{
    std::lock_guard lock(m_lock);
    const size_t used = m_count + reserved;
    size_t room = used < m_buf.size() ? m_buf.size() - used : 0;
    // NOTE: while the runtime still has bytes to take, the master is read
    // only once a whole read's worth of room is free: reading into every
    // scrap of room the runtime leaves costs a read (and a look at inotify)
    // per piece it takes.
    if (room == 0 || (room < kMasterRead && m_count > 0)) {
        m_reader_stalled = true;
        room = 0;
    }
    return room;
}

bool OutputRing::append(const char* src, size_t len)
{
    std::lock_guard lock(m_lock);
    if (!m_delivering)
        return false;
    const size_t cap = m_buf.size();
    len = std::min(len, cap - m_count);
    const size_t tail = (m_head + m_count) % cap;
    const size_t first = std::min(len, cap - tail);
    std::memcpy(m_buf.data() + tail, src, first);
    std::memcpy(m_buf.data(), src + first, len - first);
    m_count += len;
    return true;
}

void OutputRing::clear()
{
    std::lock_guard lock(m_lock);
    m_head = 0;
    m_count = 0;
    m_unconfirmed = false;
    m_reader_stalled = false;
    m_hold = Hold::None;
}

void OutputRing::load(const std::vector<char>& bytes)
{
    std::lock_guard lock(m_lock);
    const size_t n = std::min(bytes.size(), m_buf.size());
    std::memcpy(m_buf.data(), bytes.data(), n);
    m_head = 0;
    m_count = n;
}

void OutputRing::stop_delivering()
{
    std::lock_guard lock(m_lock);
    m_delivering = false;
    m_drain_watch = false;
}

void OutputRing::set_drain_watch(bool on)
{
    std::lock_guard lock(m_lock);
    m_drain_watch = on;
}

void OutputRing::hold_for_flush()
{
    std::lock_guard lock(m_lock);
    m_hold = Hold::UntilFetched;
}

OutputRing::FetchStep OutputRing::commands_fetched(bool flush)
{
    std::lock_guard lock(m_lock);
    FetchStep step;
    if (m_hold == Hold::UntilFetched && flush) {
        m_hold = Hold::UntilNextFetch;
        step.fetch_again = true;
    } else if (m_hold == Hold::UntilNextFetch) {
        m_hold = Hold::None;
        step.wake_pump = m_count > 0 && m_delivering;
    }
    return step;
}

bool OutputRing::flush_held() const
{
    std::lock_guard lock(m_lock);
    return m_hold != Hold::None;
}

OutputRing::CloseState OutputRing::begin_close(bool connected, bool eof)
{
    std::lock_guard lock(m_lock);
    CloseState s;
    // NOTE: inotify reports the close before the pty has taken it in, so
    // the last bytes may still be on their way to the master.
    s.wait = connected && m_delivering && (m_count > 0 || m_unconfirmed || m_reader_stalled || !eof);
    s.unread = m_reader_stalled;
    m_drain_watch = s.wait;
    return s;
}

size_t OutputRing::count() const
{
    std::lock_guard lock(m_lock);
    return m_count;
}

bool OutputRing::delivering() const
{
    std::lock_guard lock(m_lock);
    return m_delivering;
}

bool OutputRing::drained() const
{
    std::lock_guard lock(m_lock);
    return m_count == 0 && !m_unconfirmed && !m_reader_stalled;
}

} // namespace kolm::platform::portdrv
