#include "socket_table.h"

#include "win32/wsaerror.h"

namespace kolm::platform::winsock {

namespace {

// Past this the values wrap to 4; ~0 is INVALID_SOCKET and must never be given.
constexpr uint32_t kLastValue = 0xFFFFFFF0u;

} // namespace

SocketTable& SocketTable::instance()
{
    // NOTE: never destroyed: threads of the program (a runtime's service
    // thread, say) may still use it while the program exits, and a table
    // torn down under them would be freed memory. WSACleanup closes what it
    // holds; the process's end closes the rest.
    static auto* table = new SocketTable;
    return *table;
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
