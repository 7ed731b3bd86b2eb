#include "tcp_channels.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace devsim {

namespace {

constexpr size_t kOutLimit = 64 * 1024;

const char* mode_name(TcpMode m)
{
    switch (m) {
    case TcpMode::echo:        return "echo";
    case TcpMode::discard:     return "discard";
    case TcpMode::refuse:      return "refuse";
    case TcpMode::close_after: return "close";
    }
    return "?";
}

} // namespace

TcpChannels::~TcpChannels()
{
    for (auto& l : m_listeners)
        ::close(l.fd);
    for (auto& c : m_connections)
        ::close(c->fd);
}

bool TcpChannels::start(const Options& options, std::string* error)
{
    in_addr addr{};
    if (::inet_pton(AF_INET, options.bind_addr.c_str(), &addr) != 1) {
        *error = "bad --bind address " + options.bind_addr;
        return false;
    }
    for (const TcpChannel& ch : options.tcp) {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (fd < 0) {
            *error = std::string("socket: ") + std::strerror(errno);
            return false;
        }
        const int on = 1;
        ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        sockaddr_in sa{};
        sa.sin_family = AF_INET;
        sa.sin_addr = addr;
        sa.sin_port = htons(ch.port);
        socklen_t len = sizeof sa;
        // A refusing channel holds its port bound but never listens: the
        // kernel answers every connect with a reset.
        if (::bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0
            || (ch.mode != TcpMode::refuse && ::listen(fd, 16) != 0)
            || ::getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &len) != 0) {
            *error = "tcp port " + std::to_string(ch.port) + ": " + std::strerror(errno);
            ::close(fd);
            return false;
        }
        m_listeners.push_back({fd, ch});
        std::printf("tcp %s:%u %s\n", options.bind_addr.c_str(), ntohs(sa.sin_port), mode_name(ch.mode));
    }
    return true;
}

size_t TcpChannels::collect(std::vector<pollfd>& fds)
{
    m_polled_listeners.clear();
    m_polled_connections.clear();
    for (auto& l : m_listeners) {
        if (l.channel.mode == TcpMode::refuse)
            continue;
        fds.push_back({l.fd, POLLIN, 0});
        m_polled_listeners.push_back(&l);
    }
    for (auto& c : m_connections) {
        short events = 0;
        if (!c->done_reading && c->out.size() < kOutLimit)
            events |= POLLIN;
        if (!c->out.empty())
            events |= POLLOUT;
        fds.push_back({c->fd, events, 0});
        m_polled_connections.push_back(c.get());
    }
    return m_polled_listeners.size() + m_polled_connections.size();
}

void TcpChannels::dispatch(const pollfd* fds, size_t count)
{
    size_t k = 0;
    for (Listener* l : m_polled_listeners) {
        if (k < count && fds[k].revents)
            accept_all(*l);
        ++k;
    }
    for (Connection* c : m_polled_connections) {
        if (k < count && fds[k].revents) {
            if (fds[k].revents & (POLLIN | POLLHUP | POLLERR))
                read_some(*c);
            if (!c->broken && (fds[k].revents & POLLOUT))
                write_some(*c);
        }
        ++k;
    }
    // A connection ends once it has nothing more to read or send.
    for (auto it = m_connections.begin(); it != m_connections.end();) {
        Connection& c = **it;
        if (c.broken || (c.done_reading && c.out.empty())) {
            ::close(c.fd);
            it = m_connections.erase(it);
        } else {
            ++it;
        }
    }
}

void TcpChannels::accept_all(const Listener& l)
{
    for (;;) {
        const int fd = ::accept4(l.fd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno == EINTR || errno == ECONNABORTED)
                continue;
            return;
        }
        auto c = std::make_unique<Connection>();
        c->fd = fd;
        c->mode = l.channel.mode;
        c->left = l.channel.close_after;
        c->done_reading = c->mode == TcpMode::close_after && c->left == 0;
        c->broken = false;
        m_connections.push_back(std::move(c));
    }
}

void TcpChannels::read_some(Connection& c)
{
    char buf[16384];
    while (!c.done_reading && c.out.size() < kOutLimit) {
        const ssize_t n = ::recv(c.fd, buf, sizeof buf, 0);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            if (errno != EAGAIN)
                c.broken = true;
            return;
        }
        if (n == 0) {
            c.done_reading = true;
            return;
        }
        size_t take = static_cast<size_t>(n);
        if (c.mode == TcpMode::close_after) {
            if (take > c.left)
                take = static_cast<size_t>(c.left);
            c.left -= take;
            c.done_reading = c.left == 0;
        }
        if (c.mode != TcpMode::discard)
            c.out.append(buf, take);
    }
}

void TcpChannels::write_some(Connection& c)
{
    while (!c.out.empty()) {
        const ssize_t n = ::send(c.fd, c.out.data(), c.out.size(), MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            if (errno != EAGAIN)
                c.broken = true;
            return;
        }
        c.out.erase(0, static_cast<size_t>(n));
    }
}

} // namespace devsim
