// This process's station on the IPX segment.
//
// One unicast UDP socket on the segment's interface gives the station its
// node (IPv4 address and port) and carries everything it sends; a second
// UDP socket, joined to the segment's multicast group, hears broadcasts.
// A receiver thread checks each packet and hands it to the endpoint bound
// to its destination socket number. Endpoints are whatever a protocol
// needs (an IPX datagram socket's queue today; SPX connections share the
// same socket numbers and dispatch later).
//
// The station lives while some socket holds it: the first IPX socket of
// the process starts it, reading the segment settings then, and the last
// one to close stops it.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <random>
#include <thread>
#include <vector>

#include "ipx_header.h"
#include "segment_config.h"
#include "winsock/core/event_fd.h"
#include "winsock/core/net_result.h"

namespace kolm::platform::ipx {

// Receives the packets addressed to one socket number, on the receiver
// thread. data/len is the packet's data, after the header.
class PacketSink {
public:
    virtual ~PacketSink() = default;
    virtual void deliver(const Header& header, const uint8_t* data, size_t len) = 0;
};

inline constexpr uint16_t kFirstDynamicSocket = 0x4000;
inline constexpr uint16_t kLastDynamicSocket = 0x7FFF;

// Faults a station injects into what it sends and receives, for tests of
// the protocols above it: each packet is lost, sent twice, or held back
// until the next one passes it, with the given chances in percent.
struct FaultPlan {
    unsigned drop_percent = 0;
    unsigned reorder_percent = 0;
    unsigned duplicate_percent = 0;
    uint64_t seed = 1;
    bool on_send = true;
    bool on_receive = true;
    bool any() const { return drop_percent || reorder_percent || duplicate_percent; }
};

class Station {
public:
    // The running station, or a new one. WSAENETDOWN when the segment
    // settings are malformed or its sockets cannot be set up (the reason
    // goes to stderr once).
    static net::Result<std::shared_ptr<Station>> acquire();

    explicit Station(const SegmentConfig& config);
    ~Station();
    Station(const Station&) = delete;
    Station& operator=(const Station&) = delete;

    uint32_t network() const { return m_config.network; }
    const Node& node() const { return m_node; }

    // Binds a sink to a socket number; 0 picks a free dynamic one.
    // WSAEADDRINUSE when the number is taken.
    net::Result<uint16_t> attach(uint16_t socket, std::weak_ptr<PacketSink> sink);
    void detach(uint16_t socket);
    // Unbinds the number only when its sink is gone: a sink's destructor
    // must not unbind a number that someone has bound again since.
    void detach_expired(uint16_t socket);

    // Sends one packet from src_socket; the station fills in its own
    // network and node. WSAENETUNREACH for a network other than 0 or the
    // segment's, WSAEMSGSIZE for more than kMaxData bytes.
    net::Status send(uint8_t packet_type, uint16_t src_socket, const Address& dest, const uint8_t* data, size_t len);

    // Starts (or, with an empty plan, stops) fault injection.
    void set_faults(const FaultPlan& plan);

    // What the receiver thread did with what it heard.
    struct Counters {
        uint64_t delivered = 0;
        uint64_t own_broadcasts = 0; // our own broadcasts coming back from the group
        uint64_t malformed = 0;      // failed the header checks
        uint64_t not_for_us = 0;     // another network or node
        uint64_t no_socket = 0;      // nothing bound to the destination socket
    };
    Counters counters() const;

private:
    bool start(std::string* error);
    void receive_loop();
    void drain(int fd, bool from_group);
    void handle(const uint8_t* buf, size_t n, bool from_group);

    // Sends one encoded packet, through the fault plan when there is one.
    // to_addr and to_port in network byte order.
    net::Status transmit(const uint8_t* packet, size_t len, uint32_t to_addr, uint16_t to_port);
    net::Status transmit_now(const uint8_t* packet, size_t len, uint32_t to_addr, uint16_t to_port);
    // Receives one packet through the fault plan; on the receiver thread.
    void receive_faulty(const uint8_t* buf, size_t n, bool from_group);
    // A roll of the dice against a chance in percent; caller holds m_fault_mutex.
    bool roll_locked(unsigned percent);

    const SegmentConfig m_config;
    int m_unicast_fd = -1;
    int m_group_fd = -1;
    Node m_node{};
    net::EventFd m_stop;
    std::thread m_receiver;

    std::mutex m_mutex;
    std::map<uint16_t, std::weak_ptr<PacketSink>> m_sinks; // guarded by m_mutex
    uint16_t m_next_dynamic = kFirstDynamicSocket;         // guarded by m_mutex

    struct HeldPacket {
        std::vector<uint8_t> bytes;
        uint32_t to_addr = 0;
        uint16_t to_port = 0;
        bool from_group = false;
    };
    std::mutex m_fault_mutex;
    FaultPlan m_faults;                       // guarded by m_fault_mutex
    std::mt19937_64 m_rng;                    // guarded by m_fault_mutex
    std::optional<HeldPacket> m_held_out;     // guarded by m_fault_mutex
    std::optional<HeldPacket> m_held_in;      // guarded by m_fault_mutex
    std::atomic<bool> m_faulty{false};

    std::atomic<uint64_t> m_delivered{0};
    std::atomic<uint64_t> m_own_broadcasts{0};
    std::atomic<uint64_t> m_malformed{0};
    std::atomic<uint64_t> m_not_for_us{0};
    std::atomic<uint64_t> m_no_socket{0};
};

} // namespace kolm::platform::ipx
