// An SPX stream socket (SOCK_STREAM, NSPROTO_SPX) as Windows Sockets
// presents it: connect, listen and accept, and a byte stream on top of
// SPX packets. Blocking calls wait on the connection's levels together
// with the socket's cancel descriptor, so closesocket wakes them.
#pragma once

#include <memory>
#include <mutex>

#include "spx_connection.h"
#include "winsock/core/socket.h"

namespace kolm::platform::ipx {

class SpxSocket final : public net::Socket {
public:
    explicit SpxSocket(std::shared_ptr<Station> station);
    // An accepted connection.
    SpxSocket(std::shared_ptr<Station> station, std::shared_ptr<SpxPort> port, std::shared_ptr<SpxConnection> conn);
    ~SpxSocket() override;

    net::Status bind(const net::SockAddr& addr) override;
    net::Status connect(const net::SockAddr& addr) override;
    net::Status listen(int backlog) override;
    net::Result<std::shared_ptr<net::Socket>> accept(net::SockAddr* peer) override;
    net::Result<int> send_to(const char* buf, int len, net::MsgFlags flags, const net::SockAddr* to) override;
    net::Result<int> recv_from(char* buf, int len, net::MsgFlags flags, net::SockAddr* from) override;
    net::Status shutdown(net::ShutdownHow how) override;
    net::Result<net::SockAddr> local_name() override;
    net::Result<net::SockAddr> peer_name() override;
    net::Result<uint32_t> bytes_readable() override;
    net::Status set_option(net::Option opt, int value) override;
    net::Result<int> get_option(net::Option opt) override;
    net::Status set_linger(net::Linger l) override;
    net::Result<net::Linger> get_linger() override;
    net::PollTarget poll_target(net::SelectKind kind) override;
    bool is_ready(net::SelectKind kind, short revents) override;
    net::PollTarget async_target(uint32_t enabled) override;
    std::vector<net::AsyncNote> async_check(uint32_t enabled, short revents) override;
    net::Status check_close() override;

    // For tests of the protocol: the connection under this socket.
    std::shared_ptr<SpxConnection> connection();

private:
    void on_close() override;
    net::Status bind_locked(uint16_t socket);

    // Declared first: let go last, after the port has unbound its number.
    const std::shared_ptr<Station> m_station;
    std::mutex m_mutex;
    std::shared_ptr<SpxPort> m_port;       // guarded by m_mutex; set once bound
    std::shared_ptr<SpxConnection> m_conn; // guarded by m_mutex; set once connecting
    bool m_listening = false;              // guarded by m_mutex
    bool m_recv_shut = false;              // guarded by m_mutex
    net::Linger m_linger;                  // guarded by m_mutex
};

} // namespace kolm::platform::ipx
