#include "ipx_dgram_socket.h"
#include "socket_address.h"

#include <algorithm>
#include <cstring>
#include <poll.h>

#include "win32/wsaerror.h"

namespace kolm::platform::ipx {

namespace {

constexpr Node kZeroNode{};

} // namespace

void IpxDgramSocket::Inbox::deliver(const Header& header, const uint8_t* data, size_t len)
{
    std::lock_guard lock(mutex);
    if (peer && !(peer->node == header.src.node && peer->socket == header.src.socket))
        return;
    if (queue.size() >= kMaxQueuedDatagrams || bytes + len > limit)
        return;
    queue.push_back(Datagram{header.src, std::vector<uint8_t>(data, data + len)});
    bytes += len;
    readable.set();
}

IpxDgramSocket::IpxDgramSocket(std::shared_ptr<Station> station, uint8_t packet_type)
    : net::Socket(net::Family::ipx, net::SockType::dgram),
      m_station(std::move(station)),
      m_inbox(std::make_shared<Inbox>()),
      m_packet_type(packet_type)
{
}

IpxDgramSocket::~IpxDgramSocket()
{
    on_close();
}

void IpxDgramSocket::on_close()
{
    std::lock_guard lock(m_mutex);
    if (m_socket != 0) {
        m_station->detach(m_socket);
        m_socket = 0;
    }
}

net::Status IpxDgramSocket::bind_locked(uint16_t socket)
{
    auto bound = m_station->attach(socket, m_inbox);
    if (!bound)
        return net::WsaError{bound.error()};
    m_socket = *bound;
    return net::ok();
}

net::Status IpxDgramSocket::bind(const net::SockAddr& addr)
{
    if (addr.family != net::Family::ipx)
        return net::WsaError{WSAEAFNOSUPPORT};
    const Address a = address_from_net(addr.ipx);
    // Network and node 0 mean "ours"; another station's cannot be bound.
    if ((a.network != 0 && a.network != m_station->network())
        || (a.node != kZeroNode && a.node != m_station->node()))
        return net::WsaError{WSAEADDRNOTAVAIL};
    std::lock_guard lock(m_mutex);
    if (m_socket != 0)
        return net::WsaError{WSAEINVAL};
    return bind_locked(a.socket);
}

net::Status IpxDgramSocket::connect(const net::SockAddr& addr)
{
    if (addr.family != net::Family::ipx)
        return net::WsaError{WSAEAFNOSUPPORT};
    const Address a = address_from_net(addr.ipx);
    std::lock_guard lock(m_mutex);
    if (m_socket == 0)
        if (auto st = bind_locked(0); !st)
            return st;
    m_peer = a;
    std::lock_guard inbox_lock(m_inbox->mutex);
    m_inbox->peer = a;
    return net::ok();
}

net::Status IpxDgramSocket::listen(int)
{
    return net::WsaError{WSAEOPNOTSUPP};
}

net::Result<std::shared_ptr<net::Socket>> IpxDgramSocket::accept(net::SockAddr*)
{
    return net::WsaError{WSAEOPNOTSUPP};
}

net::Result<int> IpxDgramSocket::send_to(const char* buf, int len, net::MsgFlags flags, const net::SockAddr* to)
{
    if (flags.oob)
        return net::WsaError{WSAEOPNOTSUPP};
    if (to && to->family != net::Family::ipx)
        return net::WsaError{WSAEAFNOSUPPORT};
    uint16_t socket;
    uint8_t packet_type;
    Address dest;
    {
        std::lock_guard lock(m_mutex);
        if (m_send_shut)
            return net::WsaError{WSAESHUTDOWN};
        if (to)
            dest = address_from_net(to->ipx);
        else if (m_peer)
            dest = *m_peer;
        else
            return net::WsaError{WSAENOTCONN};
        if (static_cast<size_t>(len) > kMaxData)
            return net::WsaError{WSAEMSGSIZE};
        if (dest.node == kBroadcastNode && !m_broadcast)
            return net::WsaError{WSAEACCES};
        // Sending from an unbound socket binds it to a dynamic number.
        if (m_socket == 0)
            if (auto st = bind_locked(0); !st)
                return net::WsaError{st.error()};
        socket = m_socket;
        packet_type = m_packet_type;
    }
    if (auto st = m_station->send(packet_type, socket, dest, reinterpret_cast<const uint8_t*>(buf),
                                  static_cast<size_t>(len));
        !st)
        return net::WsaError{st.error()};
    return len;
}

net::Result<int> IpxDgramSocket::recv_from(char* buf, int len, net::MsgFlags flags, net::SockAddr* from)
{
    if (flags.oob)
        return net::WsaError{WSAEOPNOTSUPP};
    {
        std::lock_guard lock(m_mutex);
        if (m_socket == 0)
            return net::WsaError{WSAEINVAL};
        if (m_recv_shut)
            return net::WsaError{WSAESHUTDOWN};
    }
    for (;;) {
        {
            std::lock_guard lock(m_inbox->mutex);
            if (!m_inbox->queue.empty()) {
                Datagram& d = m_inbox->queue.front();
                const size_t size = d.data.size();
                const size_t n = std::min(size, static_cast<size_t>(len));
                if (n > 0)
                    std::memcpy(buf, d.data.data(), n);
                if (from)
                    *from = address_to_net(d.src);
                // A cut datagram is gone all the same; only MSG_PEEK keeps it.
                if (!flags.peek) {
                    m_inbox->bytes -= size;
                    m_inbox->queue.pop_front();
                    m_inbox->readable.assign(!m_inbox->queue.empty());
                }
                if (size > n)
                    return net::WsaError{WSAEMSGSIZE};
                return static_cast<int>(n);
            }
        }
        if (closed())
            return net::WsaError{WSAEINTR};
        if (nonblocking())
            return net::WsaError{WSAEWOULDBLOCK};
        if (wait(m_inbox->readable.fd(), POLLIN) == net::WaitResult::cancelled)
            return net::WsaError{WSAEINTR};
    }
}

net::Status IpxDgramSocket::shutdown(net::ShutdownHow how)
{
    std::lock_guard lock(m_mutex);
    if (how != net::ShutdownHow::send)
        m_recv_shut = true;
    if (how != net::ShutdownHow::receive)
        m_send_shut = true;
    return net::ok();
}

net::Result<net::SockAddr> IpxDgramSocket::local_name()
{
    std::lock_guard lock(m_mutex);
    if (m_socket == 0)
        return net::WsaError{WSAEINVAL};
    return address_to_net(Address{m_station->network(), m_station->node(), m_socket});
}

net::Result<net::SockAddr> IpxDgramSocket::peer_name()
{
    std::lock_guard lock(m_mutex);
    if (!m_peer)
        return net::WsaError{WSAENOTCONN};
    return address_to_net(*m_peer);
}

net::Result<uint32_t> IpxDgramSocket::bytes_readable()
{
    std::lock_guard lock(m_inbox->mutex);
    return static_cast<uint32_t>(m_inbox->bytes);
}

net::Status IpxDgramSocket::set_option(net::Option opt, int value)
{
    std::lock_guard lock(m_mutex);
    switch (opt) {
    case net::Option::broadcast:
        m_broadcast = value != 0;
        return net::ok();
    case net::Option::ipx_ptype:
        if (value < 0 || value > 255)
            return net::WsaError{WSAEINVAL};
        m_packet_type = static_cast<uint8_t>(value);
        return net::ok();
    case net::Option::rcv_buf: {
        // Never less than one whole packet.
        std::lock_guard inbox_lock(m_inbox->mutex);
        m_inbox->limit = std::max<size_t>(static_cast<size_t>(std::max(value, 0)), kMaxData);
        return net::ok();
    }
    case net::Option::reuse_addr:
    case net::Option::snd_buf:
        // Accepted and without effect: numbers are never shared, and a send
        // goes out at once.
        return net::ok();
    default:
        return net::WsaError{WSAENOPROTOOPT};
    }
}

net::Result<int> IpxDgramSocket::get_option(net::Option opt)
{
    std::lock_guard lock(m_mutex);
    switch (opt) {
    case net::Option::broadcast:   return m_broadcast ? 1 : 0;
    case net::Option::ipx_ptype:   return static_cast<int>(m_packet_type);
    case net::Option::ipx_maxsize: return static_cast<int>(kMaxData);
    case net::Option::error:       return 0;
    case net::Option::reuse_addr:  return 0;
    case net::Option::snd_buf:     return static_cast<int>(kMaxPacket);
    case net::Option::rcv_buf: {
        std::lock_guard inbox_lock(m_inbox->mutex);
        return static_cast<int>(m_inbox->limit);
    }
    default:
        return net::WsaError{WSAENOPROTOOPT};
    }
}

net::PollTarget IpxDgramSocket::poll_target(net::SelectKind kind)
{
    switch (kind) {
    case net::SelectKind::read:   return {m_inbox->readable.fd(), POLLIN};
    case net::SelectKind::write:  return {-1, 0, true}; // a datagram always goes out at once
    case net::SelectKind::except: return {};
    }
    return {};
}

bool IpxDgramSocket::is_ready(net::SelectKind kind, short)
{
    if (kind == net::SelectKind::read)
        return m_inbox->readable.is_set();
    return kind == net::SelectKind::write;
}

net::PollTarget IpxDgramSocket::async_target(uint32_t enabled)
{
    short events = 0;
    if (enabled & net::async_read)
        events |= POLLIN;
    // An eventfd is always writable: FD_WRITE fires at once.
    if (enabled & net::async_write)
        events |= POLLOUT;
    if (events == 0)
        return {};
    return {m_inbox->readable.fd(), events};
}

std::vector<net::AsyncNote> IpxDgramSocket::async_check(uint32_t enabled, short)
{
    std::vector<net::AsyncNote> notes;
    if ((enabled & net::async_read) && m_inbox->readable.is_set())
        notes.push_back({net::async_read, 0});
    if (enabled & net::async_write)
        notes.push_back({net::async_write, 0});
    return notes;
}

} // namespace kolm::platform::ipx
