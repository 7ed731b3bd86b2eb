// Winsock address records and the layer's addresses.
#include "api.h"

#include <cstring>

namespace kolm::platform::winsock {

net::Result<net::SockAddr> address_from(const win32::sockaddr* name, int namelen)
{
    if (!name || namelen < static_cast<int>(sizeof(u_short)))
        return net::WsaError{WSAEFAULT};
    u_short family;
    std::memcpy(&family, name, sizeof family);
    if (family == AF_INET) {
        win32::sockaddr_in in;
        if (namelen < static_cast<int>(sizeof in))
            return net::WsaError{WSAEFAULT};
        std::memcpy(&in, name, sizeof in);
        return net::SockAddr::of(net::InetAddr{in.sin_addr.s_addr, win32::ntohs(in.sin_port)});
    }
    if (family == AF_IPX) {
        // A caller may pass 16 (the size of a sockaddr); only 14 are read.
        sockaddr_ipx ipx;
        if (namelen < static_cast<int>(sizeof ipx))
            return net::WsaError{WSAEFAULT};
        std::memcpy(&ipx, name, sizeof ipx);
        net::IpxAddr a;
        std::memcpy(a.net.data(), ipx.sa_netnum, 4);
        std::memcpy(a.node.data(), ipx.sa_nodenum, 6);
        a.socket = win32::ntohs(ipx.sa_socket);
        return net::SockAddr::of(a);
    }
    return net::WsaError{WSAEAFNOSUPPORT};
}

int address_to(const net::SockAddr& addr, win32::sockaddr* name, int* namelen)
{
    if (!name || !namelen)
        return WSAEFAULT;
    if (addr.family == net::Family::inet) {
        win32::sockaddr_in in{};
        if (*namelen < static_cast<int>(sizeof in))
            return WSAEFAULT;
        in.sin_family = AF_INET;
        in.sin_port = win32::htons(addr.inet.port);
        in.sin_addr.s_addr = addr.inet.addr;
        std::memcpy(name, &in, sizeof in);
        *namelen = sizeof in;
        return 0;
    }
    sockaddr_ipx ipx{};
    if (*namelen < static_cast<int>(sizeof ipx))
        return WSAEFAULT;
    ipx.sa_family = AF_IPX;
    std::memcpy(ipx.sa_netnum, addr.ipx.net.data(), 4);
    std::memcpy(ipx.sa_nodenum, addr.ipx.node.data(), 6);
    ipx.sa_socket = win32::htons(addr.ipx.socket);
    std::memcpy(name, &ipx, sizeof ipx);
    *namelen = sizeof ipx;
    return 0;
}

} // namespace kolm::platform::winsock
