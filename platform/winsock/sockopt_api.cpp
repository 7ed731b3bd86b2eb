// setsockopt / getsockopt: Winsock levels and names to the layer's options.
#include "api.h"

#include <cstring>
#include <optional>

using namespace kolm::platform;
using namespace kolm::platform::winsock;

namespace {

// The options whose value is one int (a BOOL or a size).
std::optional<net::Option> int_option(int level, int optname)
{
    if (level == SOL_SOCKET) {
        switch (optname) {
        case SO_REUSEADDR:  return net::Option::reuse_addr;
        case SO_KEEPALIVE:  return net::Option::keep_alive;
        case SO_BROADCAST:  return net::Option::broadcast;
        case SO_OOBINLINE:  return net::Option::oob_inline;
        case SO_SNDBUF:     return net::Option::snd_buf;
        case SO_RCVBUF:     return net::Option::rcv_buf;
        case SO_ERROR:      return net::Option::error;
        case SO_ACCEPTCONN: return net::Option::accept_conn;
        default:            return std::nullopt;
        }
    }
    if (level == IPPROTO_TCP && optname == TCP_NODELAY)
        return net::Option::no_delay;
    if (level == NSPROTO_IPX) {
        switch (optname) {
        case IPX_PTYPE:   return net::Option::ipx_ptype;
        case IPX_MAXSIZE: return net::Option::ipx_maxsize;
        default:          return std::nullopt;
        }
    }
    return std::nullopt;
}

bool read_only(net::Option o)
{
    return o == net::Option::error || o == net::Option::accept_conn || o == net::Option::ipx_maxsize;
}

bool known_level(int level)
{
    return level == SOL_SOCKET || level == IPPROTO_TCP || level == NSPROTO_IPX;
}

int put_int(int value, char* optval, int* optlen)
{
    if (*optlen < static_cast<int>(sizeof value))
        return fail(WSAEFAULT);
    std::memcpy(optval, &value, sizeof value);
    *optlen = sizeof value;
    return 0;
}

} // namespace

int win32::setsockopt(SOCKET s, int level, int optname, const char* optval, int optlen)
{
    auto sock = socket_for(s);
    if (!sock)
        return fail(sock.error());
    if (!known_level(level))
        return fail(WSAEINVAL);
    if (!optval)
        return fail(WSAEFAULT);
    if (level == SOL_SOCKET && optname == SO_LINGER) {
        win32::linger l;
        if (optlen < static_cast<int>(sizeof l))
            return fail(WSAEFAULT);
        std::memcpy(&l, optval, sizeof l);
        if (auto r = (*sock)->set_linger(net::Linger{l.l_onoff != 0, l.l_linger}); !r)
            return fail(r.error());
        return 0;
    }
    int value;
    if (optlen < static_cast<int>(sizeof value))
        return fail(WSAEFAULT);
    std::memcpy(&value, optval, sizeof value);
    if (level == SOL_SOCKET && optname == SO_DONTLINGER) {
        // "Don't linger" on keeps the linger time but turns lingering off.
        auto cur = (*sock)->get_linger();
        if (!cur)
            return fail(cur.error());
        if (auto r = (*sock)->set_linger(net::Linger{value == 0, cur->seconds}); !r)
            return fail(r.error());
        return 0;
    }
    const auto opt = int_option(level, optname);
    if (!opt || read_only(*opt))
        return fail(WSAENOPROTOOPT);
    if (auto r = (*sock)->set_option(*opt, value); !r)
        return fail(r.error());
    return 0;
}

int win32::getsockopt(SOCKET s, int level, int optname, char* optval, int* optlen)
{
    auto sock = socket_for(s);
    if (!sock)
        return fail(sock.error());
    if (!known_level(level))
        return fail(WSAEINVAL);
    if (!optval || !optlen)
        return fail(WSAEFAULT);
    if (level == SOL_SOCKET && optname == SO_LINGER) {
        win32::linger l;
        if (*optlen < static_cast<int>(sizeof l))
            return fail(WSAEFAULT);
        auto cur = (*sock)->get_linger();
        if (!cur)
            return fail(cur.error());
        l.l_onoff = cur->on ? 1 : 0;
        l.l_linger = cur->seconds;
        std::memcpy(optval, &l, sizeof l);
        *optlen = sizeof l;
        return 0;
    }
    if (level == SOL_SOCKET && optname == SO_DONTLINGER) {
        auto cur = (*sock)->get_linger();
        if (!cur)
            return fail(cur.error());
        return put_int(cur->on ? 0 : 1, optval, optlen);
    }
    if (level == SOL_SOCKET && optname == SO_TYPE) {
        const net::SockType t = (*sock)->type();
        return put_int(t == net::SockType::stream ? SOCK_STREAM : t == net::SockType::dgram ? SOCK_DGRAM : SOCK_SEQPACKET,
                       optval, optlen);
    }
    const auto opt = int_option(level, optname);
    if (!opt)
        return fail(WSAENOPROTOOPT);
    if (*optlen < static_cast<int>(sizeof(int)))
        return fail(WSAEFAULT);
    auto r = (*sock)->get_option(*opt);
    if (!r)
        return fail(r.error());
    return put_int(*r, optval, optlen);
}
