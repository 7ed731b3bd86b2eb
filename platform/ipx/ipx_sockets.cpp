#include "ipx_sockets.h"

#include "ipx_dgram_socket.h"
#include "spx_socket.h"
#include "station.h"
#include "win32/wsaerror.h"

namespace kolm::platform::ipx {

net::Result<std::shared_ptr<net::Socket>> create_socket(net::SockType type, int protocol)
{
    if (type == net::SockType::dgram) {
        // NSPROTO_IPX + n: datagrams go out with packet type n.
        if (protocol < net::kNsProtoIpx || protocol > net::kNsProtoIpx + 255)
            return net::WsaError{WSAEPROTONOSUPPORT};
        auto station = Station::acquire();
        if (!station)
            return net::WsaError{station.error()};
        auto sock = std::make_shared<IpxDgramSocket>(std::move(*station),
                                                     static_cast<uint8_t>(protocol - net::kNsProtoIpx));
        if (!sock->valid() || !sock->valid_queue())
            return net::WsaError{WSAEMFILE};
        return std::shared_ptr<net::Socket>(std::move(sock));
    }
    if (type == net::SockType::stream && protocol == net::kNsProtoSpx) {
        auto station = Station::acquire();
        if (!station)
            return net::WsaError{station.error()};
        auto sock = std::make_shared<SpxSocket>(std::move(*station));
        if (!sock->valid())
            return net::WsaError{WSAEMFILE};
        return std::shared_ptr<net::Socket>(std::move(sock));
    }
    // Sequenced packets (message boundaries kept) and the second protocol
    // revision are not offered.
    return net::WsaError{WSAEPROTONOSUPPORT};
}

} // namespace kolm::platform::ipx
