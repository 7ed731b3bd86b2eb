// An IPX datagram socket (SOCK_DGRAM, NSPROTO_IPX).
//
// Received datagrams wait in a bounded queue (the newest is dropped when
// it is full, as a real stack does); a recv takes one datagram whole, or
// cuts it with WSAEMSGSIZE. FIONREAD counts all queued datagrams together,
// which is what programs of the Winsock 1.1 era rely on.
#pragma once

#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "ipx_header.h"
#include "station.h"
#include "winsock/core/socket.h"

namespace kolm::platform::ipx {

class IpxDgramSocket final : public net::Socket {
public:
    // The queue's default bounds: bytes of data, and datagrams.
    static constexpr size_t kDefaultQueueBytes = 32 * 1024;
    static constexpr size_t kMaxQueuedDatagrams = 256;

    IpxDgramSocket(std::shared_ptr<Station> station, uint8_t packet_type);
    ~IpxDgramSocket() override;

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
    net::PollTarget poll_target(net::SelectKind kind) override;
    bool is_ready(net::SelectKind kind, short revents) override;
    net::PollTarget async_target(uint32_t enabled) override;
    std::vector<net::AsyncNote> async_check(uint32_t enabled, short revents) override;

    bool valid_queue() const { return m_inbox->readable.valid(); }

private:
    void on_close() override;
    // Binds to socket (0: a dynamic one); caller holds m_mutex.
    net::Status bind_locked(uint16_t socket);

    struct Datagram {
        Address src;
        std::vector<uint8_t> data;
    };

    // The receive queue, fed by the station's receiver thread.
    struct Inbox final : PacketSink {
        void deliver(const Header& header, const uint8_t* data, size_t len) override;

        std::mutex mutex;
        std::deque<Datagram> queue;            // guarded by mutex
        size_t bytes = 0;                      // guarded by mutex; data bytes queued
        size_t limit = kDefaultQueueBytes;     // guarded by mutex
        std::optional<Address> peer;           // guarded by mutex; connect() filters on it
        net::EventFd readable;                 // set while the queue is not empty
    };

    const std::shared_ptr<Station> m_station;
    const std::shared_ptr<Inbox> m_inbox;

    std::mutex m_mutex;
    uint16_t m_socket = 0;      // guarded by m_mutex; 0 while unbound
    uint8_t m_packet_type;      // guarded by m_mutex
    bool m_broadcast = false;   // guarded by m_mutex
    bool m_send_shut = false;   // guarded by m_mutex
    bool m_recv_shut = false;   // guarded by m_mutex
    std::optional<Address> m_peer; // guarded by m_mutex
};

} // namespace kolm::platform::ipx
