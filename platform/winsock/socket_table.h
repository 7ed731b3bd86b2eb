// The process's sockets by SOCKET value.
//
// Values are multiples of 4 from 4 up, handed out in rising order and
// reused only after wrapping around 32 bits, so a stale value held by one
// thread does not quietly name another thread's new socket. TCP and IPX
// sockets share the one table, so their values never collide.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#include "winsock/core/net_result.h"
#include "winsock/core/socket.h"

namespace kolm::platform::winsock {

class SocketTable {
public:
    static SocketTable& instance();

    // Most sockets a process may hold at once (WSADATA.iMaxSockets).
    static constexpr size_t kMaxSockets = 4096;

    net::Result<uint32_t> add(std::shared_ptr<net::Socket> sock);
    std::shared_ptr<net::Socket> find(uint32_t value);
    std::shared_ptr<net::Socket> remove(uint32_t value);
    std::vector<std::pair<uint32_t, std::shared_ptr<net::Socket>>> remove_all();

private:
    std::mutex m_mutex;
    std::map<uint32_t, std::shared_ptr<net::Socket>> m_sockets; // guarded by m_mutex
    uint32_t m_next = 4;                                        // guarded by m_mutex
};

} // namespace kolm::platform::winsock
