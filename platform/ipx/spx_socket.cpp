#include "spx_socket.h"
#include "socket_address.h"

#include <poll.h>

#include "win32/wsaerror.h"

namespace kolm::platform::ipx {

namespace {

constexpr Node kZeroNode{};

} // namespace

SpxSocket::SpxSocket(std::shared_ptr<Station> station)
    : net::Socket(net::Family::ipx, net::SockType::stream), m_station(std::move(station))
{
}

SpxSocket::SpxSocket(std::shared_ptr<Station> station, std::shared_ptr<SpxPort> port,
                     std::shared_ptr<SpxConnection> conn)
    : net::Socket(net::Family::ipx, net::SockType::stream),
      m_station(std::move(station)),
      m_port(std::move(port)),
      m_conn(std::move(conn))
{
}

SpxSocket::~SpxSocket()
{
    on_close();
}

std::shared_ptr<SpxConnection> SpxSocket::connection()
{
    std::lock_guard lock(m_mutex);
    return m_conn;
}

void SpxSocket::on_close()
{
    std::shared_ptr<SpxConnection> conn;
    std::shared_ptr<SpxPort> port;
    net::Linger linger;
    bool listening;
    {
        std::lock_guard lock(m_mutex);
        conn = std::move(m_conn);
        port = m_port;
        linger = m_linger;
        listening = std::exchange(m_listening, false);
    }
    if (listening && port)
        port->stop_listening();
    if (!conn)
        return;
    if (linger.on && linger.seconds == 0) {
        conn->abort();
        return;
    }
    conn->close_orderly();
    if (linger.on && !nonblocking()) {
        // Lingering: closesocket returns once the peer has the end of the
        // stream, or when the linger time is up.
        net::wait_fd(conn->done_fd(), POLLIN, -1,
                     net::Clock::now() + std::chrono::seconds(linger.seconds));
    }
}

net::Status SpxSocket::check_close()
{
    std::lock_guard lock(m_mutex);
    // A non-blocking socket cannot wait for its linger time.
    if (m_linger.on && m_linger.seconds > 0 && nonblocking() && m_conn && !m_conn->is_done())
        return net::WsaError{WSAEWOULDBLOCK};
    return net::ok();
}

net::Status SpxSocket::bind_locked(uint16_t socket)
{
    auto port = std::make_shared<SpxPort>(m_station);
    if (!port->valid())
        return net::WsaError{WSAEMFILE};
    if (auto st = port->attach(socket); !st)
        return st;
    m_port = std::move(port);
    return net::ok();
}

net::Status SpxSocket::bind(const net::SockAddr& addr)
{
    if (addr.family != net::Family::ipx)
        return net::WsaError{WSAEAFNOSUPPORT};
    const Address a = address_from_net(addr.ipx);
    if ((a.network != 0 && a.network != m_station->network())
        || (a.node != kZeroNode && a.node != m_station->node()))
        return net::WsaError{WSAEADDRNOTAVAIL};
    std::lock_guard lock(m_mutex);
    if (m_port)
        return net::WsaError{WSAEINVAL};
    return bind_locked(a.socket);
}

net::Status SpxSocket::connect(const net::SockAddr& addr)
{
    if (addr.family != net::Family::ipx)
        return net::WsaError{WSAEAFNOSUPPORT};
    const Address remote = address_from_net(addr.ipx);
    if (remote.node == kBroadcastNode || remote.node == kZeroNode || remote.socket == 0)
        return net::WsaError{WSAEADDRNOTAVAIL};
    if (remote.network != 0 && remote.network != m_station->network())
        return net::WsaError{WSAENETUNREACH};
    std::shared_ptr<SpxConnection> conn;
    {
        std::lock_guard lock(m_mutex);
        if (m_listening)
            return net::WsaError{WSAEINVAL};
        if (m_conn) {
            if (m_conn->connecting())
                return net::WsaError{WSAEALREADY};
            if (!m_conn->connect_failed())
                return net::WsaError{WSAEISCONN};
            m_conn.reset(); // a new attempt after a failed one
        }
        if (!m_port)
            if (auto st = bind_locked(0); !st)
                return st;
        auto opened = m_port->open(remote, spx_params_from_env());
        if (!opened)
            return net::WsaError{opened.error()};
        conn = *opened;
        m_conn = conn;
    }
    conn->start_connect();
    if (nonblocking())
        return net::WsaError{WSAEWOULDBLOCK};
    if (wait(conn->settled_fd(), POLLIN) == net::WaitResult::cancelled)
        return net::WsaError{WSAEINTR};
    if (conn->connect_failed()) {
        conn->take_error(); // reported here; SO_ERROR is for non-blocking connects
        return net::WsaError{conn->error()};
    }
    return net::ok();
}

net::Status SpxSocket::listen(int backlog)
{
    std::lock_guard lock(m_mutex);
    if (m_conn)
        return net::WsaError{WSAEISCONN};
    if (!m_port)
        return net::WsaError{WSAEINVAL};
    m_port->listen(backlog);
    m_listening = true;
    return net::ok();
}

net::Result<std::shared_ptr<net::Socket>> SpxSocket::accept(net::SockAddr* peer)
{
    std::shared_ptr<SpxPort> port;
    {
        std::lock_guard lock(m_mutex);
        if (!m_listening)
            return net::WsaError{WSAEINVAL};
        port = m_port;
    }
    for (;;) {
        if (auto conn = port->take_accepted()) {
            if (peer)
                *peer = address_to_net(conn->remote());
            auto sock = std::make_shared<SpxSocket>(m_station, port, conn);
            if (!sock->valid()) {
                conn->abort();
                return net::WsaError{WSAEMFILE};
            }
            return std::shared_ptr<net::Socket>(std::move(sock));
        }
        if (closed())
            return net::WsaError{WSAEINTR};
        if (nonblocking())
            return net::WsaError{WSAEWOULDBLOCK};
        if (wait(port->acceptable_fd(), POLLIN) == net::WaitResult::cancelled)
            return net::WsaError{WSAEINTR};
    }
}

net::Result<int> SpxSocket::send_to(const char* buf, int len, net::MsgFlags flags, const net::SockAddr*)
{
    if (flags.oob)
        return net::WsaError{WSAEOPNOTSUPP};
    const auto conn = connection();
    if (!conn)
        return net::WsaError{WSAENOTCONN};
    // A blocking send returns once every byte is queued; a non-blocking one
    // takes what fits.
    int done = 0;
    for (;;) {
        auto r = conn->try_send(buf + done, len - done);
        if (r) {
            done += *r;
            if (done >= len || nonblocking())
                return done;
            continue;
        }
        if (r.error() != WSAEWOULDBLOCK)
            return done > 0 ? net::Result<int>(done) : r;
        if (closed())
            return net::WsaError{WSAEINTR};
        if (nonblocking())
            return done > 0 ? net::Result<int>(done) : r;
        if (wait(conn->writable_fd(), POLLIN) == net::WaitResult::cancelled)
            return net::WsaError{WSAEINTR};
    }
}

net::Result<int> SpxSocket::recv_from(char* buf, int len, net::MsgFlags flags, net::SockAddr* from)
{
    if (flags.oob)
        return net::WsaError{WSAEOPNOTSUPP};
    std::shared_ptr<SpxConnection> conn;
    {
        std::lock_guard lock(m_mutex);
        if (m_recv_shut)
            return net::WsaError{WSAESHUTDOWN};
        conn = m_conn;
    }
    if (!conn)
        return net::WsaError{WSAENOTCONN};
    for (;;) {
        auto r = conn->try_recv(buf, len, flags.peek);
        if (r && from)
            *from = address_to_net(conn->remote());
        if (r || r.error() != WSAEWOULDBLOCK)
            return r;
        if (closed())
            return net::WsaError{WSAEINTR};
        if (nonblocking())
            return r;
        if (wait(conn->readable_fd(), POLLIN) == net::WaitResult::cancelled)
            return net::WsaError{WSAEINTR};
    }
}

net::Status SpxSocket::shutdown(net::ShutdownHow how)
{
    std::shared_ptr<SpxConnection> conn;
    {
        std::lock_guard lock(m_mutex);
        if (!m_conn)
            return net::WsaError{WSAENOTCONN};
        if (how != net::ShutdownHow::send)
            m_recv_shut = true;
        conn = m_conn;
    }
    if (how != net::ShutdownHow::receive)
        conn->shutdown_send();
    return net::ok();
}

net::Result<net::SockAddr> SpxSocket::local_name()
{
    std::lock_guard lock(m_mutex);
    if (!m_port)
        return net::WsaError{WSAEINVAL};
    return address_to_net(Address{m_station->network(), m_station->node(), m_port->socket()});
}

net::Result<net::SockAddr> SpxSocket::peer_name()
{
    std::lock_guard lock(m_mutex);
    if (!m_conn || m_conn->connecting() || m_conn->connect_failed())
        return net::WsaError{WSAENOTCONN};
    return address_to_net(m_conn->remote());
}

net::Result<uint32_t> SpxSocket::bytes_readable()
{
    const auto conn = connection();
    return conn ? conn->bytes_readable() : 0u;
}

net::Status SpxSocket::set_option(net::Option opt, int)
{
    switch (opt) {
    case net::Option::reuse_addr:
    case net::Option::keep_alive: // the watchdog always runs
    case net::Option::snd_buf:
    case net::Option::rcv_buf:
    case net::Option::no_delay:   // every send goes out at once anyway
        return net::ok();
    default:
        return net::WsaError{WSAENOPROTOOPT};
    }
}

net::Result<int> SpxSocket::get_option(net::Option opt)
{
    switch (opt) {
    case net::Option::error: {
        const auto conn = connection();
        return conn ? conn->take_error() : 0;
    }
    case net::Option::accept_conn: {
        std::lock_guard lock(m_mutex);
        return m_listening ? 1 : 0;
    }
    case net::Option::ipx_maxsize: return static_cast<int>(kSpxMaxData);
    case net::Option::keep_alive:  return 1;
    case net::Option::reuse_addr:
    case net::Option::no_delay:    return 0;
    case net::Option::snd_buf:
    case net::Option::rcv_buf:     return static_cast<int>(spx_params_from_env().window * kSpxMaxData);
    default:
        return net::WsaError{WSAENOPROTOOPT};
    }
}

net::Status SpxSocket::set_linger(net::Linger l)
{
    std::lock_guard lock(m_mutex);
    m_linger = l;
    return net::ok();
}

net::Result<net::Linger> SpxSocket::get_linger()
{
    std::lock_guard lock(m_mutex);
    return m_linger;
}

net::PollTarget SpxSocket::poll_target(net::SelectKind kind)
{
    std::lock_guard lock(m_mutex);
    if (m_listening)
        return kind == net::SelectKind::read ? net::PollTarget{m_port->acceptable_fd(), POLLIN} : net::PollTarget{};
    if (!m_conn)
        return {};
    switch (kind) {
    case net::SelectKind::read:
        return {m_conn->readable_fd(), POLLIN};
    case net::SelectKind::write:
        if (m_conn->connect_failed())
            return {};
        return {m_conn->writable_fd(), POLLIN};
    case net::SelectKind::except:
        if (m_conn->connect_failed())
            return {-1, 0, true};
        return {m_conn->settled_fd(), POLLIN};
    }
    return {};
}

bool SpxSocket::is_ready(net::SelectKind kind, short)
{
    std::lock_guard lock(m_mutex);
    if (m_listening)
        return kind == net::SelectKind::read && m_port->is_acceptable();
    if (!m_conn)
        return false;
    switch (kind) {
    case net::SelectKind::read:   return m_conn->is_readable();
    case net::SelectKind::write:  return !m_conn->connect_failed() && m_conn->is_writable();
    case net::SelectKind::except: return m_conn->connect_failed();
    }
    return false;
}

net::PollTarget SpxSocket::async_target(uint32_t enabled)
{
    std::lock_guard lock(m_mutex);
    if (m_listening)
        return (enabled & net::async_accept) ? net::PollTarget{m_port->acceptable_fd(), POLLIN} : net::PollTarget{};
    if (!m_conn)
        return {};
    if (m_conn->connecting())
        return (enabled & (net::async_connect | net::async_write)) ? net::PollTarget{m_conn->settled_fd(), POLLIN}
                                                                  : net::PollTarget{};
    if (enabled & (net::async_read | net::async_close))
        return {m_conn->readable_fd(), POLLIN};
    if (enabled & net::async_write)
        return {m_conn->writable_fd(), POLLIN};
    return {};
}

std::vector<net::AsyncNote> SpxSocket::async_check(uint32_t enabled, short)
{
    std::vector<net::AsyncNote> notes;
    std::lock_guard lock(m_mutex);
    if (m_listening) {
        if ((enabled & net::async_accept) && m_port->is_acceptable())
            notes.push_back({net::async_accept, 0});
        return notes;
    }
    if (!m_conn)
        return notes;
    if (m_conn->connect_failed()) {
        if (enabled & net::async_connect)
            notes.push_back({net::async_connect, m_conn->error()});
        return notes;
    }
    if (m_conn->connecting())
        return notes;
    const uint32_t avail = m_conn->bytes_readable();
    if ((enabled & net::async_read) && avail > 0)
        notes.push_back({net::async_read, 0});
    if ((enabled & net::async_write) && m_conn->is_writable())
        notes.push_back({net::async_write, 0});
    if ((enabled & net::async_close) && avail == 0 && m_conn->is_readable()) {
        const int e = m_conn->error();
        notes.push_back({net::async_close, e == WSAECONNRESET || e == WSAECONNABORTED ? e : 0});
    }
    return notes;
}

} // namespace kolm::platform::ipx
