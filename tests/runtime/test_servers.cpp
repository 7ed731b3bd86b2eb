#include "test_servers.h"

#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <random>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

namespace kolm::test {

namespace {

// Binds a POSIX TCP socket to 127.0.0.1 at a free port in 10001..65535.
int bind_in_service_range(int& port_out)
{
    std::mt19937 rng(std::random_device{}());
    std::uniform_int_distribution<int> pick(20000, 60000);
    for (int tries = 0; tries < 200; ++tries) {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        const int port = pick(rng);
        a.sin_port = htons(static_cast<uint16_t>(port));
        if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) {
            port_out = port;
            return fd;
        }
        ::close(fd);
    }
    return -1;
}

} // namespace

TestServer::TestServer(ServerMode mode, size_t close_after) : m_mode(mode), m_close_after(close_after)
{
    m_listen = bind_in_service_range(m_port);
    EXPECT_GE(m_listen, 0);
    EXPECT_EQ(::listen(m_listen, 8), 0);
    m_accept = std::thread([this] {
        for (;;) {
            pollfd p{m_listen, POLLIN, 0};
            if (::poll(&p, 1, 100) < 0 && errno != EINTR)
                return;
            if (m_stop.load())
                return;
            if (!(p.revents & POLLIN))
                continue;
            const int fd = ::accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0)
                continue;
            ++m_connections;
            std::lock_guard lock(m_lock);
            m_open.push_back(fd);
            m_threads.emplace_back([this, fd] { serve(fd); });
        }
    });
}

TestServer::~TestServer()
{
    m_stop = true;
    m_accept.join();
    {
        std::lock_guard lock(m_lock);
        for (int fd : m_open)
            ::shutdown(fd, SHUT_RDWR);
    }
    for (auto& t : m_threads)
        t.join();
    for (int fd : m_open)
        ::close(fd);
    ::close(m_listen);
}

std::string TestServer::service() const
{
    return "IP:127.0.0.1:" + std::to_string(number());
}

void TestServer::reset_all()
{
    std::lock_guard lock(m_lock);
    for (int fd : m_open) {
        linger lg{1, 0};
        ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &lg, sizeof lg);
        ::shutdown(fd, SHUT_RDWR);
    }
}

void TestServer::serve(int fd)
{
    if (m_mode == ServerMode::HangUp) {
        ::shutdown(fd, SHUT_RDWR);
        return;
    }
    char buf[16384];
    size_t total = 0;
    for (;;) {
        const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n <= 0)
            return;
        if (m_mode == ServerMode::Silent)
            continue;
        size_t len = static_cast<size_t>(n);
        if (m_mode == ServerMode::CloseAfter && total + len >= m_close_after)
            len = m_close_after - total;
        for (size_t off = 0; off < len;) {
            const ssize_t w = ::send(fd, buf + off, len - off, MSG_NOSIGNAL);
            if (w <= 0)
                return;
            off += static_cast<size_t>(w);
        }
        total += len;
        if (m_mode == ServerMode::CloseAfter && total >= m_close_after) {
            ::shutdown(fd, SHUT_RDWR);
            return;
        }
    }
}

RefusingPort::RefusingPort()
{
    m_fd = bind_in_service_range(m_port);
    EXPECT_GE(m_fd, 0);
}

RefusingPort::~RefusingPort()
{
    ::close(m_fd);
}

std::string RefusingPort::service() const
{
    return "IP:127.0.0.1:" + std::to_string(number());
}

} // namespace kolm::test
