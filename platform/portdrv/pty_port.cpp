#include "portdrv/pty_port.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include <sys/epoll.h>
#include <sys/uio.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <unistd.h>

#include "internal/machine_root.h"
#include "kernel/sync.h"
#include "portdrv/pty_links.h"
#include "win32.h"

namespace kolm::platform::portdrv {

SysResult<std::shared_ptr<PtyPort>> PtyPort::create(PtyPortOptions options)
{
    if (options.output_capacity < 2)
        options.output_capacity = 2;
    auto pty = PtyDevice::create(options.group);
    if (!pty)
        return pty.error();
    std::shared_ptr<PtyPort> port(new PtyPort(std::move(options), std::move(pty.value())));
    if (!port->open_watch_fds())
        return SysError{"watch descriptors", errno};
    if (!port->watch(*port->m_pty, port->m_wd))
        return SysError{"inotify_add_watch " + port->m_pty->slave_path(), errno};
    auto linked = publish_link(port->m_link, port->m_pty->published_path());
    if (!linked)
        return linked.error();
    if (!port->m_opt.extra_link.empty()) {
        auto extra = publish_link(port->m_opt.extra_link, port->m_pty->published_path());
        if (!extra)
            port->m_link_problem = extra.error().message();
    }
    return port;
}

PtyPort::PtyPort(PtyPortOptions options, std::unique_ptr<PtyDevice> pty)
    : m_opt(std::move(options))
    , m_link(machine_dir("dev", 0755) / m_opt.port_name)
    , m_pty(std::move(pty))
    , m_out(m_opt.output_capacity)
{
}

bool PtyPort::open_watch_fds()
{
    m_epoll = ::epoll_create1(EPOLL_CLOEXEC);
    m_inotify = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    m_wake = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (m_epoll < 0 || m_inotify < 0 || m_wake < 0)
        return false;
    epoll_event ev{};
    ev.events = EPOLLIN;
    ev.data.fd = m_inotify;
    if (::epoll_ctl(m_epoll, EPOLL_CTL_ADD, m_inotify, &ev) != 0)
        return false;
    ev.data.fd = m_wake;
    return ::epoll_ctl(m_epoll, EPOLL_CTL_ADD, m_wake, &ev) == 0;
}

// Watches the slave for opens and closes, and the master for data, status
// and room. The master is edge-triggered: after the last close it would
// report HUP at every level-triggered wait.
bool PtyPort::watch(PtyDevice& pty, int& wd)
{
    wd = ::inotify_add_watch(m_inotify, pty.slave_path().c_str(), IN_OPEN | IN_CLOSE_WRITE | IN_CLOSE_NOWRITE);
    if (wd < 0)
        return false;
    epoll_event ev{};
    ev.events = EPOLLIN | EPOLLET;
    ev.data.fd = pty.master();
    return ::epoll_ctl(m_epoll, EPOLL_CTL_ADD, pty.master(), &ev) == 0;
}

// NOTE: room on the master is watched only while the runtime waits for
// it. Watched all the time, every read the application makes wakes the
// watcher (an edge per read), once for every piece the runtime hands over.
void PtyPort::watch_for_space(int master, bool on)
{
    epoll_event ev{};
    ev.events = EPOLLIN | EPOLLET | (on ? EPOLLOUT : 0u);
    ev.data.fd = master;
    ::epoll_ctl(m_epoll, EPOLL_CTL_MOD, master, &ev);
}

PtyPort::~PtyPort()
{
    stop();
    const std::string published = published_path();
    withdraw_link(m_link, published);
    if (!m_opt.extra_link.empty())
        withdraw_link(m_opt.extra_link, published);
    for (int fd : {m_epoll, m_inotify, m_wake})
        if (fd >= 0)
            ::close(fd);
}

void PtyPort::attach(std::shared_ptr<PortDriver> driver)
{
    m_driver = driver;
    if (!m_watcher.joinable())
        m_watcher = std::thread([this] { run(); });
}

void PtyPort::stop()
{
    m_stop.store(true);
    wake();
    if (m_watcher.joinable())
        m_watcher.join();
}

void PtyPort::trace(const char* fmt, ...)
{
    static const bool on = [] {
        const char* v = std::getenv("KOLM_PORT_TRACE");
        return v && *v && std::string_view(v) != "0";
    }();
    if (!on)
        return;
    char line[256];
    va_list ap;
    va_start(ap, fmt);
    std::vsnprintf(line, sizeof line, fmt, ap);
    va_end(ap);
    std::fprintf(stderr, "kolmport: %s\n", line);
}

void PtyPort::wake()
{
    if (m_wake < 0)
        return;
    const uint64_t one = 1;
    // NOTE: a full counter (EAGAIN) already means "woken".
    while (::write(m_wake, &one, sizeof one) < 0 && errno == EINTR) {
    }
}

void PtyPort::publish(const std::string& slave)
{
    auto linked = publish_link(m_link, slave);
    if (!linked)
        std::fprintf(stderr, "kolm32: %s: %s\n", m_opt.port_name.c_str(), linked.error().message().c_str());
    if (!m_opt.extra_link.empty() && m_link_problem.empty()) {
        auto extra = publish_link(m_opt.extra_link, slave);
        if (!extra)
            std::fprintf(stderr, "kolm32: %s: %s\n", m_opt.port_name.c_str(), extra.error().message().c_str());
    }
}

std::string PtyPort::slave_path() const
{
    std::lock_guard lock(m_in_lock);
    return m_pty ? m_pty->slave_path() : std::string();
}

std::string PtyPort::published_path() const
{
    std::lock_guard lock(m_in_lock);
    return m_pty ? m_pty->published_path() : std::string();
}

size_t PtyPort::buffered_output() const
{
    std::lock_guard lock(m_out_lock);
    return m_out_count;
}

bool PtyPort::runtime_ended() const
{
    std::lock_guard lock(m_out_lock);
    return !m_delivering;
}

size_t PtyPort::take_output(char* dst, size_t max)
{
    size_t n = 0;
    bool wake_watcher = false;
    {
        std::lock_guard lock(m_out_lock);
        if (!m_delivering)
            return 0;
        n = std::min(max, m_out_count);
        const size_t cap = m_out.size();
        const size_t first = std::min(n, cap - m_out_head);
        std::memcpy(dst, m_out.data() + m_out_head, first);
        std::memcpy(dst + first, m_out.data(), n - first);
        m_out_head = (m_out_head + n) % cap;
        m_out_count -= n;
        if (n > 0)
            m_out_unconfirmed = true;
        if (m_reader_stalled && (m_out_count == 0 || cap - m_out_count >= kMasterRead)) {
            m_reader_stalled = false;
            wake_watcher = true;
        }
    }
    if (wake_watcher)
        wake();
    return n;
}

size_t PtyPort::give_input(const char* src, size_t len)
{
    return give_input_pieces(src, len, nullptr, 0);
}

// Both pieces go to the master in one write where they fit.
size_t PtyPort::give_input_pieces(const char* first, size_t first_len, const char* second, size_t second_len)
{
    const size_t len = first_len + second_len;
    std::lock_guard lock(m_in_lock);
    if (!m_accept_input || !m_pty) {
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
        const ssize_t w = ::writev(fd, left, count);
        if (w > 0) {
            total += static_cast<size_t>(w);
            continue;
        }
        if (w < 0 && errno == EINTR)
            continue;
        if (w == 0 || errno == EAGAIN) {
            // The watcher reports room only for a want raised before the
            // pty was found full, so the flag is set first and the write
            // tried once more.
            if (armed)
                break;
            m_want_space.store(true);
            watch_for_space(fd, true);
            armed = true;
            continue;
        }
        // EIO: the application is already gone; its bytes go nowhere.
        m_input_written = m_input_written || total > 0;
        return len;
    }
    if (total > 0)
        m_input_written = true;
    return total;
}

// Whether a command raised now reaches the runtime: before it registers,
// the driver finds its command event or window through the values it
// published, which a runtime still starting has not written yet.
bool PtyPort::runtime_reachable(PortDriver& driver) const
{
    if (driver.registered())
        return true;
    if (m_opt.path == CommandPath::Window)
        return IsWindow(DwordToHandle<HWND>(read_published_value("HWND")));
    return event_from_ring0(read_published_value("Event")) != nullptr;
}

void PtyPort::read_done(size_t moved)
{
    bool wake_watcher = false;
    {
        std::lock_guard lock(m_out_lock);
        // A read that finds nothing means the runtime has dealt with what
        // it took before: its pump sends between two reads.
        m_out_unconfirmed = moved > 0;
        wake_watcher = m_drain_watch && m_out_count == 0 && !m_out_unconfirmed;
    }
    if (wake_watcher)
        wake();
}

void PtyPort::write_done(size_t taken, size_t left)
{
    (void)taken;
    m_from_net_left.store(left);
}

void PtyPort::on_subfunction(int subf)
{
    {
        std::lock_guard lock(m_sub_lock);
        m_subs.push_back(subf);
    }
    wake();
}

} // namespace kolm::platform::portdrv
