#include "user/mailbox_listener.h"

#include "user/mailbox_dispatch.h"
#include "user/mailbox_path.h"
#include "user/message_queue.h"

#include <atomic>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <system_error>
#include <unistd.h>

namespace kolm::platform {

namespace {

// Connections served at once; more are closed at once (the client sees
// its window as gone rather than the mailbox growing without bound).
constexpr int max_connections = 64;

// Connection threads running, across every listener this process had.
std::atomic<int> g_connections { 0 };

} // namespace

bool MailboxListener::start(const std::filesystem::path& dir)
{
    m_dir = dir;
    m_path = dir / mailbox_file_name(current_process_id());
    // Listen under a temporary name and rename into place, so a client
    // never sees the mailbox's name before it accepts connections (a
    // refused connection means a dead mailbox).
    const auto temp = dir / ("win-" + std::to_string(current_process_id()) + ".new");
    ::unlink(temp.c_str());
    SocketAddress addr(temp);
    if (!addr.valid() || !m_stop.valid())
        return false;
    m_fd.reset(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!m_fd)
        return false;
    // Owner only, before anyone can connect: not left to the umask.
    if (::bind(m_fd.get(), reinterpret_cast<const sockaddr*>(addr.addr()), addr.length()) != 0
        || ::chmod(temp.c_str(), 0600) != 0 || ::listen(m_fd.get(), 128) != 0
        || ::rename(temp.c_str(), m_path.c_str()) != 0) {
        ::unlink(temp.c_str());
        m_fd.reset();
        return false;
    }
    m_thread = std::thread([this] { accept_loop(); });
    return true;
}

void MailboxListener::stop()
{
    if (!m_fd)
        return;
    m_stop.wake();
    if (m_thread.joinable())
        m_thread.join();
    m_fd.reset();
    unlink_socket();
}

void MailboxListener::unlink_socket() const
{
    if (!m_path.empty())
        ::unlink(m_path.c_str());
}

void MailboxListener::accept_loop()
{
    const int fds[2] = { m_fd.get(), m_stop.fd() };
    for (;;) {
        bool ready[2];
        if (poll_readable(fds, ready, 2, std::nullopt) == Ready::Error || ready[1])
            return;
        int client = ::accept4(m_fd.get(), nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (client < 0)
            continue; // EAGAIN, EINTR, ECONNABORTED: nothing to serve
        if (!peer_is_same_user(client)) {
            ::close(client); // another user's: refused unread
            continue;
        }
        if (g_connections.fetch_add(1) >= max_connections) {
            g_connections.fetch_sub(1);
            ::close(client);
            continue;
        }
        try {
            std::thread([client] {
                serve_connection(client);
                g_connections.fetch_sub(1);
            }).detach();
        } catch (const std::system_error&) {
            g_connections.fetch_sub(1);
            ::close(client);
        }
    }
}

} // namespace kolm::platform
