#include "async_watcher.h"

#include <cerrno>
#include <poll.h>
#include <vector>

namespace kolm::platform::net {

AsyncWatcher& AsyncWatcher::instance()
{
    static AsyncWatcher watcher;
    return watcher;
}

AsyncWatcher::~AsyncWatcher()
{
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
        m_entries.clear();
    }
    wake();
    if (m_thread.joinable())
        m_thread.join();
}

void AsyncWatcher::set_poster(AsyncPoster poster)
{
    std::lock_guard lock(m_mutex);
    m_poster = std::move(poster);
}

void AsyncWatcher::select(uint32_t socket_value, const std::shared_ptr<Socket>& sock, uint32_t hwnd, uint32_t msg,
                          uint32_t mask)
{
    {
        std::lock_guard lock(m_mutex);
        if (mask == 0) {
            m_entries.erase(sock.get());
        } else {
            Entry& e = m_entries[sock.get()];
            e = Entry{socket_value, sock, hwnd, msg, mask, mask, m_next_generation++, 0, false};
            if (!m_running && !m_stopping) {
                // A thread that found nothing left to watch has ended or is
                // about to; it no longer touches the watcher.
                if (m_thread.joinable())
                    m_thread.join();
                m_running = true;
                m_thread = std::thread([this] { run(); });
            }
        }
    }
    wake();
}

void AsyncWatcher::cancel(const Socket* sock)
{
    {
        std::lock_guard lock(m_mutex);
        if (m_entries.erase(sock) == 0)
            return;
    }
    wake();
}

bool AsyncWatcher::selected(const Socket* sock)
{
    std::lock_guard lock(m_mutex);
    return m_entries.count(sock) != 0;
}

void AsyncWatcher::rearm(const Socket* sock, uint32_t events)
{
    {
        std::lock_guard lock(m_mutex);
        auto it = m_entries.find(sock);
        if (it == m_entries.end())
            return;
        it->second.armed |= events & it->second.mask;
        ++it->second.version;
        it->second.parked = false;
    }
    wake();
}

void AsyncWatcher::run()
{
    struct Watched {
        const Socket* key;
        uint64_t generation;
        uint64_t version;
        std::shared_ptr<Socket> sock;
        uint32_t armed;
        PollTarget target;
    };
    std::vector<Watched> watched;
    std::vector<pollfd> fds;
    for (;;) {
        // Cleared before looking, so a change made after the look wakes
        // the poll below.
        m_wake.clear();
        watched.clear();
        fds.clear();
        {
            std::lock_guard lock(m_mutex);
            if (m_entries.empty() || m_stopping) {
                m_running = false;
                return;
            }
            for (auto& [key, e] : m_entries) {
                if (e.parked || e.armed == 0)
                    continue;
                const PollTarget t = e.sock->async_target(e.armed);
                if (t.fd < 0)
                    continue;
                watched.push_back({key, e.generation, e.version, e.sock, e.armed, t});
                fds.push_back({t.fd, t.events, 0});
            }
        }
        fds.push_back({m_wake.fd(), POLLIN, 0});
        if (::poll(fds.data(), fds.size(), -1) < 0) {
            if (errno == EINTR || errno == ENOMEM)
                continue;
            // Only a descriptor-table limit gets here; the next selection
            // starts a new thread.
            std::lock_guard lock(m_mutex);
            m_running = false;
            return;
        }
        for (size_t i = 0; i < watched.size(); ++i) {
            if (!fds[i].revents)
                continue;
            Watched& w = watched[i];
            const std::vector<AsyncNote> notes = w.sock->async_check(w.armed, fds[i].revents);
            const PollTarget again = w.sock->async_target(w.armed);

            struct Post {
                uint32_t hwnd, msg, socket, event;
                int error;
            };
            std::vector<Post> posts;
            AsyncPoster poster;
            {
                std::lock_guard lock(m_mutex);
                auto it = m_entries.find(w.key);
                if (it == m_entries.end() || it->second.generation != w.generation)
                    continue;
                Entry& e = it->second;
                for (const AsyncNote& n : notes) {
                    if (!(e.armed & n.event))
                        continue;
                    e.armed &= ~n.event;
                    posts.push_back({e.hwnd, e.msg, e.socket_value, n.event, n.error});
                }
                // The same condition, unchanged, would wake the poll again
                // at once: wait for the program to re-arm instead (unless it
                // already has, while we looked).
                if (notes.empty() && e.version == w.version && again.fd == w.target.fd
                    && again.events == w.target.events)
                    e.parked = true;
                poster = m_poster;
            }
            if (poster)
                for (const Post& p : posts)
                    poster(p.hwnd, p.msg, p.socket, p.event, p.error);
        }
    }
}

} // namespace kolm::platform::net
