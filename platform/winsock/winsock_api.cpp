// The Winsock socket calls: check the arguments, call the socket, translate
// the result.
#include "api.h"

#include <optional>

#include "ipx/ipx_sockets.h"
#include "socket_table.h"
#include "winsock/core/async_watcher.h"
#include "winsock/core/tcp_socket.h"

using namespace kolm::platform;
using namespace kolm::platform::winsock;

namespace {

net::MsgFlags msg_flags(int flags, bool* valid)
{
    *valid = (flags & ~(MSG_OOB | MSG_PEEK | MSG_DONTROUTE)) == 0;
    return net::MsgFlags{(flags & MSG_OOB) != 0, (flags & MSG_PEEK) != 0, (flags & MSG_DONTROUTE) != 0};
}

net::Result<std::shared_ptr<net::Socket>> create(int af, int type, int protocol)
{
    if (af == AF_INET) {
        if (type != SOCK_STREAM)
            return net::WsaError{WSAESOCKTNOSUPPORT};
        return net::TcpSocket::create(protocol);
    }
    if (af == AF_IPX) {
        switch (type) {
        case SOCK_DGRAM:     return ipx::create_socket(net::SockType::dgram, protocol);
        case SOCK_STREAM:    return ipx::create_socket(net::SockType::stream, protocol);
        case SOCK_SEQPACKET: return ipx::create_socket(net::SockType::seqpacket, protocol);
        default:             return net::WsaError{WSAESOCKTNOSUPPORT};
        }
    }
    return net::WsaError{WSAEAFNOSUPPORT};
}

void rearm(const std::shared_ptr<net::Socket>& sock, uint32_t events)
{
    net::AsyncWatcher::instance().rearm(sock.get(), events);
}

// send and sendto share everything but the destination.
int send_common(win32::SOCKET s, const char* buf, int len, int flags, const win32::sockaddr* to, int tolen)
{
    auto sock = socket_for(s);
    if (!sock)
        return fail(sock.error());
    if (len < 0 || (!buf && len > 0))
        return fail(WSAEFAULT);
    bool valid;
    const net::MsgFlags f = msg_flags(flags, &valid);
    if (!valid)
        return fail(WSAEOPNOTSUPP);
    std::optional<net::SockAddr> dest;
    // Stream sockets ignore the destination, as Winsock has it.
    if (to && (*sock)->type() == net::SockType::dgram) {
        auto a = address_from(to, tolen);
        if (!a)
            return fail(a.error());
        dest = *a;
    }
    auto r = (*sock)->send_to(buf, len, f, dest ? &*dest : nullptr);
    if (!r) {
        if (r.error() == WSAEWOULDBLOCK)
            rearm(*sock, net::async_write);
        return fail(r.error());
    }
    return *r;
}

int recv_common(win32::SOCKET s, char* buf, int len, int flags, win32::sockaddr* from, int* fromlen)
{
    auto sock = socket_for(s);
    if (!sock)
        return fail(sock.error());
    if (len < 0 || (!buf && len > 0))
        return fail(WSAEFAULT);
    const bool want_from = from && (*sock)->type() == net::SockType::dgram;
    if (want_from && !fromlen)
        return fail(WSAEFAULT);
    bool valid;
    const net::MsgFlags f = msg_flags(flags, &valid);
    if (!valid)
        return fail(WSAEOPNOTSUPP);
    net::SockAddr source;
    auto r = (*sock)->recv_from(buf, len, f, want_from ? &source : nullptr);
    rearm(*sock, f.oob ? net::async_oob : net::async_read);
    // A cut datagram still tells where it came from.
    if (want_from && (r || r.error() == WSAEMSGSIZE)) {
        if (const int e = address_to(source, from, fromlen); e != 0)
            return fail(e);
    }
    if (!r)
        return fail(r.error());
    return *r;
}

} // namespace

win32::SOCKET win32::socket(int af, int type, int protocol)
{
    if (!started()) {
        win32::WSASetLastError(WSANOTINITIALISED);
        return INVALID_SOCKET;
    }
    auto sock = create(af, type, protocol);
    if (!sock) {
        win32::WSASetLastError(sock.error());
        return INVALID_SOCKET;
    }
    auto value = SocketTable::instance().add(*sock);
    if (!value) {
        (*sock)->close();
        win32::WSASetLastError(value.error());
        return INVALID_SOCKET;
    }
    return *value;
}

int win32::bind(SOCKET s, const struct sockaddr* name, int namelen)
{
    auto sock = socket_for(s);
    if (!sock)
        return fail(sock.error());
    auto addr = address_from(name, namelen);
    if (!addr)
        return fail(addr.error());
    if (auto r = (*sock)->bind(*addr); !r)
        return fail(r.error());
    return 0;
}

int win32::connect(SOCKET s, const struct sockaddr* name, int namelen)
{
    auto sock = socket_for(s);
    if (!sock)
        return fail(sock.error());
    auto addr = address_from(name, namelen);
    if (!addr)
        return fail(addr.error());
    auto r = (*sock)->connect(*addr);
    rearm(*sock, 0);
    if (!r)
        return fail(r.error());
    return 0;
}

int win32::listen(SOCKET s, int backlog)
{
    auto sock = socket_for(s);
    if (!sock)
        return fail(sock.error());
    auto r = (*sock)->listen(backlog);
    rearm(*sock, 0);
    if (!r)
        return fail(r.error());
    return 0;
}

win32::SOCKET win32::accept(SOCKET s, struct sockaddr* addr, int* addrlen)
{
    auto sock = socket_for(s);
    if (!sock) {
        fail(sock.error());
        return INVALID_SOCKET;
    }
    // The peer's record is as large as the listener's own family's.
    const int needed = (*sock)->family() == net::Family::inet ? static_cast<int>(sizeof(win32::sockaddr_in))
                                                              : static_cast<int>(sizeof(sockaddr_ipx));
    if (addr && (!addrlen || *addrlen < needed)) {
        fail(WSAEFAULT);
        return INVALID_SOCKET;
    }
    net::SockAddr peer;
    auto r = (*sock)->accept(&peer);
    rearm(*sock, net::async_accept);
    if (!r) {
        fail(r.error());
        return INVALID_SOCKET;
    }
    if (addr) {
        if (const int e = address_to(peer, addr, addrlen); e != 0) {
            (*r)->close();
            fail(e);
            return INVALID_SOCKET;
        }
    }
    auto value = SocketTable::instance().add(*r);
    if (!value) {
        (*r)->close();
        fail(value.error());
        return INVALID_SOCKET;
    }
    return *value;
}

int win32::send(SOCKET s, const char* buf, int len, int flags)
{
    return send_common(s, buf, len, flags, nullptr, 0);
}

int win32::sendto(SOCKET s, const char* buf, int len, int flags, const struct sockaddr* to, int tolen)
{
    return send_common(s, buf, len, flags, to, tolen);
}

int win32::recv(SOCKET s, char* buf, int len, int flags)
{
    return recv_common(s, buf, len, flags, nullptr, nullptr);
}

int win32::recvfrom(SOCKET s, char* buf, int len, int flags, struct sockaddr* from, int* fromlen)
{
    return recv_common(s, buf, len, flags, from, fromlen);
}

int win32::shutdown(SOCKET s, int how)
{
    auto sock = socket_for(s);
    if (!sock)
        return fail(sock.error());
    net::ShutdownHow h;
    switch (how) {
    case SD_RECEIVE: h = net::ShutdownHow::receive; break;
    case SD_SEND:    h = net::ShutdownHow::send; break;
    case SD_BOTH:    h = net::ShutdownHow::both; break;
    default:         return fail(WSAEINVAL);
    }
    if (auto r = (*sock)->shutdown(h); !r)
        return fail(r.error());
    return 0;
}

int win32::closesocket(SOCKET s)
{
    auto sock = socket_for(s);
    if (!sock)
        return fail(sock.error());
    if (auto r = (*sock)->check_close(); !r)
        return fail(r.error());
    // Another thread may have closed it since the look-up.
    auto removed = SocketTable::instance().remove(s);
    if (removed != *sock)
        return fail(WSAENOTSOCK);
    close_socket(removed);
    return 0;
}

int win32::getsockname(SOCKET s, struct sockaddr* name, int* namelen)
{
    auto sock = socket_for(s);
    if (!sock)
        return fail(sock.error());
    if (!name || !namelen)
        return fail(WSAEFAULT);
    auto addr = (*sock)->local_name();
    if (!addr)
        return fail(addr.error());
    if (const int e = address_to(*addr, name, namelen); e != 0)
        return fail(e);
    return 0;
}

int win32::getpeername(SOCKET s, struct sockaddr* name, int* namelen)
{
    auto sock = socket_for(s);
    if (!sock)
        return fail(sock.error());
    if (!name || !namelen)
        return fail(WSAEFAULT);
    auto addr = (*sock)->peer_name();
    if (!addr)
        return fail(addr.error());
    if (const int e = address_to(*addr, name, namelen); e != 0)
        return fail(e);
    return 0;
}

int win32::ioctlsocket(SOCKET s, LONG cmd, u_long* argp)
{
    auto sock = socket_for(s);
    if (!sock)
        return fail(sock.error());
    if (!argp)
        return fail(WSAEFAULT);
    switch (cmd) {
    case FIONBIO:
        // Blocking again only once WSAAsyncSelect has been cancelled.
        if (*argp == 0 && net::AsyncWatcher::instance().selected(sock->get()))
            return fail(WSAEINVAL);
        (*sock)->set_nonblocking(*argp != 0);
        return 0;
    case FIONREAD: {
        auto n = (*sock)->bytes_readable();
        if (!n)
            return fail(n.error());
        *argp = *n;
        return 0;
    }
    default:
        return fail(WSAEINVAL);
    }
}
