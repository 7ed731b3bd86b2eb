// Servers on loopback for the runtime tests, at ports the runtime can
// reach (TCP port 10000 + the configured number). Written with plain POSIX
// sockets, so they are peers independent of the runtime's own socket layer.
#pragma once

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace kolm::test {

// HangUp accepts and closes at once, before anything is sent.
enum class ServerMode { Echo, CloseAfter, Silent, HangUp };

// A TCP server on 127.0.0.1 whose port is 10000 + number(), served by a
// thread per connection with plain POSIX sockets (an independent peer).
class TestServer {
public:
    explicit TestServer(ServerMode mode = ServerMode::Echo, size_t close_after = 0);
    ~TestServer();
    int number() const { return m_port - 10000; }
    int port() const { return m_port; }
    // "IP:127.0.0.1:N", the stored form of a service that reaches it.
    std::string service() const;
    int connections() const { return m_connections.load(); }
    // Closes every open connection with a reset, as a far end that vanishes.
    void reset_all();

private:
    void serve(int fd);
    int m_listen = -1;
    int m_port = 0;
    ServerMode m_mode;
    size_t m_close_after;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_connections{0};
    std::thread m_accept;
    std::mutex m_lock;
    std::vector<int> m_open;
    std::vector<std::thread> m_threads;
};

// A port number 10000 + N on which nothing listens: connecting is refused.
// The socket stays bound (not listening) for the life of the object, so no
// one else takes the port meanwhile.
class RefusingPort {
public:
    RefusingPort();
    ~RefusingPort();
    int number() const { return m_port - 10000; }
    std::string service() const;

private:
    int m_fd = -1;
    int m_port = 0;
};

} // namespace kolm::test
