// IPX addresses between the segment's form and the socket layer's.
#pragma once

#include "ipx_header.h"
#include "winsock/core/sock_addr.h"

namespace kolm::platform::ipx {

inline Address address_from_net(const net::IpxAddr& a)
{
    Address r;
    r.network = static_cast<uint32_t>(a.net[0]) << 24 | static_cast<uint32_t>(a.net[1]) << 16
        | static_cast<uint32_t>(a.net[2]) << 8 | a.net[3];
    r.node = a.node;
    r.socket = a.socket;
    return r;
}

inline net::SockAddr address_to_net(const Address& a)
{
    net::IpxAddr r;
    r.net = {static_cast<uint8_t>(a.network >> 24), static_cast<uint8_t>(a.network >> 16),
             static_cast<uint8_t>(a.network >> 8), static_cast<uint8_t>(a.network)};
    r.node = a.node;
    r.socket = a.socket;
    return net::SockAddr::of(r);
}

} // namespace kolm::platform::ipx
