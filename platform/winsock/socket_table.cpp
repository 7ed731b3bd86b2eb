#include "socket_table.h"

#include "internal/process_lifetime.h"
#include "win32/wsaerror.h"

namespace kolm::platform::winsock {

namespace {

// Past this the values wrap to 4; ~0 is INVALID_SOCKET and must never be given.
constexpr uint32_t kLastValue = 0xFFFFFFF0u;

} // namespace

SocketTable& SocketTable::instance()
{
    // WSACleanup closes what it holds; the end of the process the rest.
    return process_lifetime<SocketTable>();
}

net::Result<uint32_t> SocketTable::add(std::shared_ptr<net::Socket> sock)
{
    std::lock_guard lock(m_mutex);
    if (m_sockets.size() >= kMaxSockets)
        return net::WsaError{WSAEMFILE};
    while (m_sockets.count(m_next))
        m_next = m_next >= kLastValue ? 4 : m_next + 4;
    const uint32_t value = m_next;
    m_next = m_next >= kLastValue ? 4 : m_next + 4;
    m_sockets.emplace(value, std::move(sock));
    return value;
}

std::shared_ptr<net::Socket> SocketTable::find(uint32_t value)
{
    std::lock_guard lock(m_mutex);
    auto it = m_sockets.find(value);
    return it == m_sockets.end() ? nullptr : it->second;
}

std::shared_ptr<net::Socket> SocketTable::remove(uint32_t value)
{
    std::lock_guard lock(m_mutex);
    auto it = m_sockets.find(value);
    if (it == m_sockets.end())
        return nullptr;
    auto sock = std::move(it->second);
    m_sockets.erase(it);
    return sock;
}

std::vector<std::pair<uint32_t, std::shared_ptr<net::Socket>>> SocketTable::remove_all()
{
    std::lock_guard lock(m_mutex);
    std::vector<std::pair<uint32_t, std::shared_ptr<net::Socket>>> all(m_sockets.begin(), m_sockets.end());
    m_sockets.clear();
    return all;
}

} // namespace kolm::platform::winsock
