// Readiness of a TCP socket: what select and WSAAsyncSelect wait on, and
// what they report once the kernel descriptor has spoken.
#include "tcp_socket.h"

#include <poll.h>
#include <sys/ioctl.h>

#include "wsa_error.h"

namespace kolm::platform::net {

PollTarget TcpSocket::poll_target(SelectKind kind)
{
    std::lock_guard lock(m_mutex);
    switch (kind) {
    case SelectKind::read:
        if (m_state == State::connected && rx_buffered() > 0)
            return {-1, 0, true};
        if (m_state == State::listening || m_state == State::connected)
            return {m_fd, POLLIN};
        // Woken when the connect ends, to look again.
        if (m_state == State::connecting)
            return {m_fd, POLLIN | POLLOUT};
        return {};
    case SelectKind::write:
        if (m_state == State::connecting || m_state == State::connected)
            return {m_fd, POLLOUT};
        return {};
    case SelectKind::except:
        if (m_state == State::connect_failed)
            return {-1, 0, true};
        if (m_state == State::connecting)
            return {m_fd, POLLOUT};
        if (m_state == State::connected)
            return {m_fd, POLLPRI};
        return {};
    }
    return {};
}

bool TcpSocket::is_ready(SelectKind kind, short revents)
{
    std::lock_guard lock(m_mutex);
    settle_connect_locked(revents);
    switch (kind) {
    case SelectKind::read:
        if (m_state == State::listening)
            return revents & (POLLIN | POLLERR);
        // End of data and a reset are readable too: recv reports them.
        if (m_state == State::connected)
            return (revents & (POLLIN | POLLERR | POLLHUP)) || rx_buffered() > 0;
        return false;
    case SelectKind::write:
        return m_state == State::connected && (revents & (POLLOUT | POLLERR | POLLHUP));
    case SelectKind::except:
        // A failed non-blocking connect shows here, never in the write set.
        if (m_state == State::connect_failed)
            return true;
        return m_state == State::connected && (revents & POLLPRI);
    }
    return false;
}

PollTarget TcpSocket::async_target(uint32_t enabled)
{
    bool ahead = false;
    if (enabled & async_read) {
        std::lock_guard rx(m_rx_lock);
        m_rx_direct = true;
        ahead = m_rx_end > m_rx_pos;
    }
    std::lock_guard lock(m_mutex);
    short events = 0;
    switch (m_state) {
    case State::listening:
        if (enabled & async_accept)
            events = POLLIN;
        break;
    case State::connecting:
        if (enabled & (async_connect | async_write))
            events = POLLOUT;
        break;
    case State::connected:
        if (enabled & async_read)
            events |= POLLIN;
        // Bytes read ahead before FD_READ was asked for are told of at once
        // (a connected socket is writable), not when more arrive.
        if (ahead)
            events |= POLLOUT;
        if (enabled & async_write)
            events |= POLLOUT;
        if (enabled & async_oob)
            events |= POLLPRI;
        if ((enabled & async_close) && !m_close_waits_for_read)
            events |= POLLIN | POLLRDHUP;
        break;
    default:
        break;
    }
    if (events == 0)
        return {};
    return {m_fd, events};
}

std::vector<AsyncNote> TcpSocket::async_check(uint32_t enabled, short revents)
{
    std::vector<AsyncNote> notes;
    std::lock_guard lock(m_mutex);
    if (m_state == State::connecting) {
        settle_connect_locked(revents);
        if (m_state == State::connected) {
            if (enabled & async_connect)
                notes.push_back({async_connect, 0});
            if (enabled & async_write)
                notes.push_back({async_write, 0});
        } else if (m_state == State::connect_failed && (enabled & async_connect)) {
            notes.push_back({async_connect, m_connect_error});
        }
        return notes;
    }
    if (m_state == State::listening) {
        if ((enabled & async_accept) && (revents & POLLIN))
            notes.push_back({async_accept, 0});
        return notes;
    }
    if (m_state != State::connected)
        return notes;

    int avail = 0;
    if (::ioctl(m_fd, FIONREAD, &avail) != 0)
        avail = 0;
    avail += static_cast<int>(rx_buffered());
    // Only the kernel's word counts for a close: readable with nothing to
    // read may just mean another thread took the data meanwhile.
    const bool peer_gone = revents & (POLLRDHUP | POLLHUP | POLLERR);
    if ((enabled & async_read) && avail > 0)
        notes.push_back({async_read, 0});
    if ((enabled & async_write) && (revents & POLLOUT))
        notes.push_back({async_write, 0});
    if ((enabled & async_oob) && (revents & POLLPRI))
        notes.push_back({async_oob, 0});
    if ((enabled & async_close) && peer_gone) {
        // FD_CLOSE comes once the data before the close has been read.
        if (avail == 0)
            notes.push_back({async_close, (revents & POLLERR) ? WSAECONNRESET : 0});
        else if (!(enabled & async_read))
            m_close_waits_for_read = true;
    }
    if (enabled & async_read)
        m_close_waits_for_read = false;
    return notes;
}

} // namespace kolm::platform::net
