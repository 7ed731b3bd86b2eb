// socket(AF_IPX, ...): the IPX sockets of this process's station.
#pragma once

#include <memory>

#include "winsock/core/net_result.h"
#include "winsock/core/socket.h"

namespace kolm::platform::ipx {

// SOCK_DGRAM with NSPROTO_IPX (NSPROTO_IPX + n sends packet type n).
// SOCK_STREAM with NSPROTO_SPX: an SPX connection. Anything else:
// WSAEPROTONOSUPPORT.
net::Result<std::shared_ptr<net::Socket>> create_socket(net::SockType type, int protocol);

} // namespace kolm::platform::ipx
