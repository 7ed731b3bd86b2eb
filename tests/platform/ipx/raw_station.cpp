#include "raw_station.h"

#include "test_support.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <poll.h>
#include <random>
#include <sys/socket.h>
#include <unistd.h>

namespace kolm::test {

RawStation::RawStation()
{
    m_fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    ::bind(m_fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&a), &len);
    std::memcpy(m_node.data(), &a.sin_addr.s_addr, 4);
    std::memcpy(m_node.data() + 4, &a.sin_port, 2);
}

RawStation::~RawStation()
{
    ::close(m_fd);
}

bool RawStation::send_to_node(const NodeBytes& node, const std::vector<uint8_t>& packet)
{
    sockaddr_in to{};
    to.sin_family = AF_INET;
    std::memcpy(&to.sin_addr.s_addr, node.data(), 4);
    std::memcpy(&to.sin_port, node.data() + 4, 2);
    return ::sendto(m_fd, packet.data(), packet.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to)
        == static_cast<ssize_t>(packet.size());
}

std::optional<std::vector<uint8_t>> RawStation::receive(int timeout_ms)
{
    pollfd p{m_fd, POLLIN, 0};
    int n;
    do {
        n = ::poll(&p, 1, timeout_ms);
    } while (n < 0 && errno == EINTR);
    if (n <= 0)
        return std::nullopt;
    std::vector<uint8_t> buf(2048);
    const ssize_t got = ::recv(m_fd, buf.data(), buf.size(), 0);
    if (got < 0)
        return std::nullopt;
    buf.resize(static_cast<size_t>(got));
    return buf;
}

std::string private_group()
{
    return private_ipx_group();
}

} // namespace kolm::test
