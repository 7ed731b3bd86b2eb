#include "portdrv/pty_watcher.h"

#include "internal/system.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <sys/epoll.h>
#include <sys/inotify.h>
#include <unistd.h>

#include "portdrv/pty_device.h"

namespace kolm::platform::portdrv {

PtyWatcher::~PtyWatcher()
{
    stop();
    for (int fd : {m_epoll, m_inotify})
        if (fd >= 0)
            ::close(fd);
}

bool PtyWatcher::open(const std::string& port_name)
{
    m_port_name = port_name;
    m_epoll = ::epoll_create1(EPOLL_CLOEXEC);
    m_inotify = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (m_epoll < 0 || m_inotify < 0 || !m_wake.valid())
        return false;
    epoll_event ev{};
    ev.events = EPOLLIN;
    ev.data.fd = m_inotify;
    if (::epoll_ctl(m_epoll, EPOLL_CTL_ADD, m_inotify, &ev) != 0)
        return false;
    ev.data.fd = m_wake.fd();
    return ::epoll_ctl(m_epoll, EPOLL_CTL_ADD, m_wake.fd(), &ev) == 0;
}

bool PtyWatcher::watch(PtyDevice& pty, int& wd)
{
    wd = ::inotify_add_watch(m_inotify, pty.slave_path().c_str(), IN_OPEN | IN_CLOSE_WRITE | IN_CLOSE_NOWRITE);
    if (wd < 0)
        return false;
    epoll_event ev{};
    ev.events = EPOLLIN | EPOLLET;
    ev.data.fd = pty.master();
    if (::epoll_ctl(m_epoll, EPOLL_CTL_ADD, pty.master(), &ev) != 0)
        return false;
    m_master = pty.master();
    return true;
}

void PtyWatcher::unwatch(int master, int wd)
{
    if (wd >= 0)
        ::inotify_rm_watch(m_inotify, wd);
    if (master >= 0)
        ::epoll_ctl(m_epoll, EPOLL_CTL_DEL, master, nullptr);
}

void PtyWatcher::watch_for_space(int master, bool on)
{
    epoll_event ev{};
    ev.events = EPOLLIN | EPOLLET | (on ? EPOLLOUT : 0u);
    ev.data.fd = master;
    ::epoll_ctl(m_epoll, EPOLL_CTL_MOD, master, &ev);
}

std::vector<SlaveEvent> PtyWatcher::read_inotify()
{
    std::vector<SlaveEvent> events;
    alignas(inotify_event) char buf[4096];
    for (;;) {
        const auto got = sys::read(m_inotify, buf, sizeof buf);
        if (!got || *got == 0)
            break;
        const size_t n = *got;
        for (char* p = buf; p < buf + n;) {
            const auto* ev = reinterpret_cast<const inotify_event*>(p);
            p += sizeof(inotify_event) + ev->len;
            events.push_back({ev->wd, ev->mask});
        }
    }
    return events;
}

std::vector<int> PtyWatcher::take_wake()
{
    m_wake.drain();
    std::vector<int> posted;
    std::lock_guard lock(m_post_lock);
    posted.swap(m_posted);
    return posted;
}

void PtyWatcher::start(Handler& handler)
{
    if (!m_thread.joinable() && !m_stop.load())
        m_thread = std::thread([this, &handler] { run(handler); });
}

void PtyWatcher::stop()
{
    m_stop.store(true);
    wake();
    if (m_thread.joinable())
        m_thread.join();
}

void PtyWatcher::post(int subf)
{
    {
        std::lock_guard lock(m_post_lock);
        m_posted.push_back(subf);
    }
    wake();
}

void PtyWatcher::wake()
{
    m_wake.wake();
}

void PtyWatcher::run(Handler& handler)
{
    epoll_event events[8];
    while (!m_stop.load()) {
        const int n = ::epoll_wait(m_epoll, events, 8, handler.next_timeout());
        if (n < 0) {
            if (errno == EINTR)
                continue;
            std::fprintf(stderr, "%s: %s: watcher stopped: %s\n", program_invocation_short_name, m_port_name.c_str(), std::strerror(errno));
            return;
        }
        Ready ready;
        for (int i = 0; i < n; ++i) {
            const int fd = events[i].data.fd;
            if (fd == m_inotify) {
                ready.inotify = true;
            } else if (fd == m_wake.fd()) {
                ready.woken = true;
            } else if (fd == m_master) {
                ready.master |= (events[i].events & (EPOLLIN | EPOLLHUP | EPOLLERR)) != 0;
                ready.master_writable |= (events[i].events & EPOLLOUT) != 0;
            }
        }
        if (m_stop.load())
            return;
        handler.on_ready(ready);
    }
}

} // namespace kolm::platform::portdrv
