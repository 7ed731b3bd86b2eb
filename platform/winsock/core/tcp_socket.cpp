#include "tcp_socket.h"
#include "internal/system.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <optional>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include "wsa_error.h"

namespace kolm::platform::net {

namespace {

WsaError last_error()
{
    return WsaError{wsa_error_from_errno(errno)};
}

sockaddr_in to_kernel(const InetAddr& a)
{
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(a.port);
    sa.sin_addr.s_addr = a.addr;
    return sa;
}

SockAddr from_kernel(const sockaddr_in& sa)
{
    return SockAddr::of(InetAddr{sa.sin_addr.s_addr, ntohs(sa.sin_port)});
}

int kernel_flags(MsgFlags f)
{
    return (f.oob ? MSG_OOB : 0) | (f.peek ? MSG_PEEK : 0) | (f.dont_route ? MSG_DONTROUTE : 0);
}

struct KernelOption {
    int level;
    int name;
};

// The options that go straight to the kernel, as (level, name).
std::optional<KernelOption> kernel_option(Option opt)
{
    switch (opt) {
    case Option::reuse_addr: return KernelOption{SOL_SOCKET, SO_REUSEADDR};
    case Option::keep_alive: return KernelOption{SOL_SOCKET, SO_KEEPALIVE};
    case Option::broadcast:  return KernelOption{SOL_SOCKET, SO_BROADCAST};
    case Option::oob_inline: return KernelOption{SOL_SOCKET, SO_OOBINLINE};
    case Option::snd_buf:    return KernelOption{SOL_SOCKET, SO_SNDBUF};
    case Option::rcv_buf:    return KernelOption{SOL_SOCKET, SO_RCVBUF};
    case Option::no_delay:   return KernelOption{IPPROTO_TCP, TCP_NODELAY};
    default:                 return std::nullopt;
    }
}

} // namespace

Result<std::shared_ptr<Socket>> TcpSocket::create(int protocol)
{
    if (protocol != 0 && protocol != IPPROTO_TCP)
        return WsaError{WSAEPROTONOSUPPORT};
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return last_error();
    auto s = std::make_shared<TcpSocket>(fd, State::fresh);
    if (!s->valid())
        return WsaError{WSAEMFILE};
    return std::shared_ptr<Socket>(std::move(s));
}

TcpSocket::TcpSocket(int fd, State state) : Socket(Family::inet, SockType::stream), m_fd(fd), m_state(state) {}

TcpSocket::~TcpSocket()
{
    ::close(m_fd);
}

TcpSocket::State TcpSocket::state()
{
    std::lock_guard lock(m_mutex);
    refresh_connect_locked();
    return m_state;
}

void TcpSocket::settle_connect_locked(short revents)
{
    if (m_state != State::connecting || !(revents & (POLLOUT | POLLERR | POLLHUP)))
        return;
    int err = 0;
    socklen_t len = sizeof err;
    if (::getsockopt(m_fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0)
        err = errno;
    if (err == 0 && (revents & POLLOUT)) {
        m_state = State::connected;
    } else if (err != 0) {
        m_state = State::connect_failed;
        m_connect_error = wsa_error_from_errno(err);
    }
}

void TcpSocket::refresh_connect_locked()
{
    if (m_state != State::connecting)
        return;
    pollfd p{m_fd, POLLOUT, 0};
    const int n = sys::retry_eintr([&] { return ::poll(&p, 1, 0); });
    if (n > 0)
        settle_connect_locked(p.revents);
}

Status TcpSocket::bind(const SockAddr& addr)
{
    if (addr.family != Family::inet)
        return WsaError{WSAEAFNOSUPPORT};
    std::lock_guard lock(m_mutex);
    if (m_state != State::fresh)
        return WsaError{WSAEINVAL};
    const sockaddr_in sa = to_kernel(addr.inet);
    if (::bind(m_fd, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) != 0)
        return last_error();
    m_state = State::bound;
    return ok();
}

Status TcpSocket::connect(const SockAddr& addr)
{
    if (addr.family != Family::inet)
        return WsaError{WSAEAFNOSUPPORT};
    std::unique_lock lock(m_mutex);
    refresh_connect_locked();
    switch (m_state) {
    case State::listening:  return WsaError{WSAEINVAL};
    case State::connecting: return WsaError{WSAEALREADY};
    case State::connected:  return WsaError{WSAEISCONN};
    default:                break;
    }
    if (addr.inet.addr == INADDR_ANY || addr.inet.port == 0)
        return WsaError{WSAEADDRNOTAVAIL};
    const sockaddr_in sa = to_kernel(addr.inet);
    if (::connect(m_fd, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) == 0) {
        m_state = State::connected;
        m_connect_error = 0;
        return ok();
    }
    // On a non-blocking descriptor EINTR also leaves the connect running.
    if (errno != EINPROGRESS && errno != EINTR)
        return last_error();
    m_state = State::connecting;
    m_connect_error = 0;
    if (nonblocking())
        return WsaError{WSAEWOULDBLOCK};

    // A blocking connect waits as long as the kernel keeps trying (its own
    // SYN retries give the time-out).
    lock.unlock();
    short revents = 0;
    if (wait(m_fd, POLLOUT, &revents) == WaitResult::cancelled)
        return WsaError{WSAEINTR};
    lock.lock();
    settle_connect_locked(revents);
    if (m_state == State::connected)
        return ok();
    if (m_state == State::connect_failed) {
        // The caller gets the reason now, so SO_ERROR has nothing left.
        const int e = m_connect_error;
        m_connect_error = 0;
        return WsaError{e};
    }
    return WsaError{WSAEINTR};
}

Status TcpSocket::listen(int backlog)
{
    std::lock_guard lock(m_mutex);
    refresh_connect_locked();
    switch (m_state) {
    case State::fresh:
    case State::connect_failed: return WsaError{WSAEINVAL}; // Winsock wants bind first
    case State::connecting:
    case State::connected:      return WsaError{WSAEISCONN};
    default:                    break;
    }
    if (::listen(m_fd, backlog < 1 ? 1 : backlog) != 0)
        return last_error();
    m_state = State::listening;
    return ok();
}

Result<std::shared_ptr<Socket>> TcpSocket::accept(SockAddr* peer)
{
    {
        std::lock_guard lock(m_mutex);
        if (m_state != State::listening)
            return WsaError{WSAEINVAL};
    }
    for (;;) {
        sockaddr_in sa{};
        socklen_t len = sizeof sa;
        const int fd = ::accept4(m_fd, reinterpret_cast<sockaddr*>(&sa), &len, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd >= 0) {
            auto s = std::make_shared<TcpSocket>(fd, State::connected);
            if (!s->valid())
                return WsaError{WSAEMFILE};
            // Winsock gives the new socket the listener's properties.
            s->set_nonblocking(nonblocking());
            if (peer)
                *peer = from_kernel(sa);
            return std::shared_ptr<Socket>(std::move(s));
        }
        // A connection that was reset while queued is skipped, as Winsock does.
        if (errno == EINTR || errno == ECONNABORTED)
            continue;
        if (errno != EAGAIN)
            return last_error();
        if (nonblocking())
            return WsaError{WSAEWOULDBLOCK};
        if (wait(m_fd, POLLIN) == WaitResult::cancelled)
            return WsaError{WSAEINTR};
    }
}

Status TcpSocket::check_transfer_locked(bool sending)
{
    refresh_connect_locked();
    if (sending ? m_send_shut : m_recv_shut)
        return WsaError{WSAESHUTDOWN};
    if (m_state != State::connected)
        return WsaError{WSAENOTCONN};
    return ok();
}

Result<int> TcpSocket::send_to(const char* buf, int len, MsgFlags flags, const SockAddr*)
{
    {
        std::lock_guard lock(m_mutex);
        if (auto st = check_transfer_locked(true); !st)
            return WsaError{st.error()};
    }
    // MSG_NOSIGNAL: a peer that has gone away gives an error, not SIGPIPE,
    // which would end the whole process.
    const int kflags = kernel_flags(flags) | MSG_NOSIGNAL;
    int sent = 0;
    for (;;) {
        const ssize_t n = ::send(m_fd, buf + sent, static_cast<size_t>(len - sent), kflags);
        if (n >= 0) {
            sent += static_cast<int>(n);
            // A blocking send returns once everything has been handed over.
            if (sent == len || nonblocking())
                return sent;
            continue;
        }
        if (errno == EINTR)
            continue;
        if (errno != EAGAIN)
            return sent > 0 ? Result<int>(sent) : Result<int>(last_error());
        if (nonblocking())
            return sent > 0 ? Result<int>(sent) : Result<int>(WsaError{WSAEWOULDBLOCK});
        if (wait(m_fd, POLLOUT) == WaitResult::cancelled)
            return sent > 0 ? Result<int>(sent) : Result<int>(WsaError{WSAEINTR});
    }
}

size_t TcpSocket::rx_buffered()
{
    std::lock_guard lock(m_rx_lock);
    return m_rx_end - m_rx_pos;
}

Result<int> TcpSocket::recv_now(char* buf, int len, MsgFlags flags)
{
    std::lock_guard lock(m_rx_lock);
    if (m_rx_end > m_rx_pos) {
        const size_t n = std::min(static_cast<size_t>(len), m_rx_end - m_rx_pos);
        std::memcpy(buf, m_rx.data() + m_rx_pos, n);
        if (!flags.peek)
            m_rx_pos += n;
        return static_cast<int>(n);
    }
    const int kflags = kernel_flags(flags);
    for (;;) {
        if (flags.oob || m_rx_direct || static_cast<size_t>(len) >= kRxBuffer) {
            const ssize_t n = ::recv(m_fd, buf, static_cast<size_t>(len), kflags);
            if (n >= 0)
                return static_cast<int>(n);
        } else {
            if (m_rx.empty())
                m_rx.resize(kRxBuffer);
            const ssize_t n = ::recv(m_fd, m_rx.data(), m_rx.size(), 0);
            if (n >= 0) {
                const size_t got = std::min(static_cast<size_t>(len), static_cast<size_t>(n));
                std::memcpy(buf, m_rx.data(), got);
                m_rx_pos = flags.peek ? 0 : got;
                m_rx_end = static_cast<size_t>(n);
                return static_cast<int>(got);
            }
        }
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN)
            return WsaError{WSAEWOULDBLOCK};
        return last_error();
    }
}

Result<int> TcpSocket::recv_from(char* buf, int len, MsgFlags flags, SockAddr*)
{
    {
        std::lock_guard lock(m_mutex);
        if (auto st = check_transfer_locked(false); !st)
            return WsaError{st.error()};
    }
    for (;;) {
        auto r = recv_now(buf, len, flags);
        if (r || r.error() != WSAEWOULDBLOCK)
            return r;
        if (nonblocking())
            return r;
        if (wait(m_fd, flags.oob ? POLLPRI : POLLIN) == WaitResult::cancelled)
            return WsaError{WSAEINTR};
    }
}

Status TcpSocket::shutdown(ShutdownHow how)
{
    std::lock_guard lock(m_mutex);
    refresh_connect_locked();
    if (m_state != State::connected)
        return WsaError{WSAENOTCONN};
    const int kh = how == ShutdownHow::receive ? SHUT_RD : how == ShutdownHow::send ? SHUT_WR : SHUT_RDWR;
    if (::shutdown(m_fd, kh) != 0)
        return last_error();
    if (how != ShutdownHow::send)
        m_recv_shut = true;
    if (how != ShutdownHow::receive)
        m_send_shut = true;
    return ok();
}

Result<SockAddr> TcpSocket::local_name()
{
    std::lock_guard lock(m_mutex);
    if (m_state == State::fresh)
        return WsaError{WSAEINVAL};
    sockaddr_in sa{};
    socklen_t len = sizeof sa;
    if (::getsockname(m_fd, reinterpret_cast<sockaddr*>(&sa), &len) != 0)
        return last_error();
    return from_kernel(sa);
}

Result<SockAddr> TcpSocket::peer_name()
{
    std::lock_guard lock(m_mutex);
    refresh_connect_locked();
    if (m_state != State::connected)
        return WsaError{WSAENOTCONN};
    sockaddr_in sa{};
    socklen_t len = sizeof sa;
    if (::getpeername(m_fd, reinterpret_cast<sockaddr*>(&sa), &len) != 0)
        return last_error();
    return from_kernel(sa);
}

Result<uint32_t> TcpSocket::bytes_readable()
{
    {
        std::lock_guard lock(m_mutex);
        if (m_state == State::listening)
            return uint32_t{0};
    }
    // What one receive would give: the bytes read ahead, or else what the
    // kernel holds (Winsock's own definition of FIONREAD).
    if (const size_t ahead = rx_buffered())
        return static_cast<uint32_t>(ahead);
    int n = 0;
    if (::ioctl(m_fd, FIONREAD, &n) != 0)
        return last_error();
    return static_cast<uint32_t>(n);
}

Status TcpSocket::set_option(Option opt, int value)
{
    const auto k = kernel_option(opt);
    if (!k)
        return WsaError{WSAENOPROTOOPT};
    if (::setsockopt(m_fd, k->level, k->name, &value, sizeof value) != 0)
        return last_error();
    return ok();
}

Result<int> TcpSocket::get_option(Option opt)
{
    if (opt == Option::error) {
        std::lock_guard lock(m_mutex);
        refresh_connect_locked();
        if (m_connect_error != 0) {
            const int e = m_connect_error;
            m_connect_error = 0;
            return e;
        }
        int err = 0;
        socklen_t len = sizeof err;
        if (::getsockopt(m_fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0)
            return last_error();
        return err == 0 ? 0 : wsa_error_from_errno(err);
    }
    if (opt == Option::accept_conn)
        return state() == State::listening ? 1 : 0;
    const auto k = kernel_option(opt);
    if (!k)
        return WsaError{WSAENOPROTOOPT};
    int value = 0;
    socklen_t len = sizeof value;
    if (::getsockopt(m_fd, k->level, k->name, &value, &len) != 0)
        return last_error();
    // NOTE: Linux reports twice the buffer size that was set (it counts its
    // bookkeeping); Winsock gives back the figure the program set.
    if (opt == Option::snd_buf || opt == Option::rcv_buf)
        return value / 2;
    return value != 0 ? 1 : 0;
}

Status TcpSocket::set_linger(Linger l)
{
    ::linger kl{l.on ? 1 : 0, l.seconds};
    if (::setsockopt(m_fd, SOL_SOCKET, SO_LINGER, &kl, sizeof kl) != 0)
        return last_error();
    std::lock_guard lock(m_mutex);
    m_linger = l;
    return ok();
}

Result<Linger> TcpSocket::get_linger()
{
    std::lock_guard lock(m_mutex);
    return m_linger;
}

Status TcpSocket::check_close()
{
    std::lock_guard lock(m_mutex);
    // A lingering close would block, which a non-blocking socket must not.
    if (m_linger.on && m_linger.seconds > 0 && nonblocking())
        return WsaError{WSAEWOULDBLOCK};
    return ok();
}

} // namespace kolm::platform::net
