#include "station.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <random>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "win32/wsaerror.h"
#include "winsock/core/wsa_error.h"

namespace kolm::platform::ipx {

namespace {

std::mutex g_station_mutex;
std::weak_ptr<Station> g_station; // guarded by g_station_mutex

void report_once(const std::string& why)
{
    static std::atomic<bool> reported{false};
    if (!reported.exchange(true))
        std::fprintf(stderr, "ipx: the segment is not available: %s\n", why.c_str());
}

sockaddr_in inet_address(uint32_t addr_be, uint16_t port_be)
{
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = addr_be;
    sa.sin_port = port_be;
    return sa;
}

std::string errno_text(const char* what)
{
    return std::string(what) + ": " + std::strerror(errno);
}

} // namespace

net::Result<std::shared_ptr<Station>> Station::acquire()
{
    std::lock_guard lock(g_station_mutex);
    if (auto running = g_station.lock())
        return running;
    std::string error;
    const auto config = segment_config_from_env(&error);
    if (!config) {
        report_once(error);
        return net::WsaError{WSAENETDOWN};
    }
    auto station = std::make_shared<Station>(*config);
    if (!station->start(&error)) {
        report_once(error);
        return net::WsaError{WSAENETDOWN};
    }
    g_station = station;
    return station;
}

Station::Station(const SegmentConfig& config) : m_config(config) {}

Station::~Station()
{
    if (m_receiver.joinable()) {
        m_stop.set();
        m_receiver.join();
    }
    if (m_unicast_fd >= 0)
        ::close(m_unicast_fd);
    if (m_group_fd >= 0)
        ::close(m_group_fd);
}

bool Station::start(std::string* error)
{
    if (!m_stop.valid()) {
        *error = errno_text("eventfd");
        return false;
    }
    m_unicast_fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    m_group_fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (m_unicast_fd < 0 || m_group_fd < 0) {
        *error = errno_text("socket");
        return false;
    }

    // The unicast socket: its address and port are our node, and all we
    // send leaves from it, towards the group on the chosen interface
    // (without IP_MULTICAST_IF it would take the default route).
    sockaddr_in local = inet_address(m_config.interface_addr, 0);
    socklen_t len = sizeof local;
    const in_addr iface{m_config.interface_addr};
    const int ttl = 1;
    const int loop = 1;
    if (::bind(m_unicast_fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0
        || ::getsockname(m_unicast_fd, reinterpret_cast<sockaddr*>(&local), &len) != 0
        || ::setsockopt(m_unicast_fd, IPPROTO_IP, IP_MULTICAST_IF, &iface, sizeof iface) != 0
        || ::setsockopt(m_unicast_fd, IPPROTO_IP, IP_MULTICAST_TTL, &ttl, sizeof ttl) != 0
        || ::setsockopt(m_unicast_fd, IPPROTO_IP, IP_MULTICAST_LOOP, &loop, sizeof loop) != 0) {
        *error = errno_text("unicast socket");
        return false;
    }
    m_node = node_of(local.sin_addr.s_addr, local.sin_port);

    // The group socket is bound to the group address itself, and told not
    // to take traffic of other groups on the same port, so that segments
    // with different groups stay apart.
    const int on = 1;
    const int off = 0;
    const sockaddr_in group = inet_address(m_config.group_addr, htons(m_config.group_port));
    ip_mreqn join{};
    join.imr_multiaddr.s_addr = m_config.group_addr;
    join.imr_address.s_addr = m_config.interface_addr;
    if (::setsockopt(m_group_fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0
        || ::bind(m_group_fd, reinterpret_cast<const sockaddr*>(&group), sizeof group) != 0
        || ::setsockopt(m_group_fd, IPPROTO_IP, IP_MULTICAST_ALL, &off, sizeof off) != 0
        || ::setsockopt(m_group_fd, IPPROTO_IP, IP_ADD_MEMBERSHIP, &join, sizeof join) != 0) {
        *error = errno_text("group socket");
        return false;
    }
    m_receiver = std::thread([this] { receive_loop(); });
    return true;
}

net::Result<uint16_t> Station::attach(uint16_t socket, std::weak_ptr<PacketSink> sink)
{
    std::lock_guard lock(m_mutex);
    auto taken = [this](uint16_t s) {
        auto it = m_sinks.find(s);
        return it != m_sinks.end() && !it->second.expired();
    };
    if (socket == 0) {
        const unsigned range = kLastDynamicSocket - kFirstDynamicSocket + 1;
        for (unsigned tried = 0; tried < range && taken(m_next_dynamic); ++tried)
            m_next_dynamic = m_next_dynamic == kLastDynamicSocket ? kFirstDynamicSocket : m_next_dynamic + 1;
        if (taken(m_next_dynamic))
            return net::WsaError{WSAENOBUFS};
        socket = m_next_dynamic;
        m_next_dynamic = m_next_dynamic == kLastDynamicSocket ? kFirstDynamicSocket : m_next_dynamic + 1;
    } else if (taken(socket)) {
        return net::WsaError{WSAEADDRINUSE};
    }
    m_sinks[socket] = std::move(sink);
    return socket;
}

void Station::detach(uint16_t socket)
{
    std::lock_guard lock(m_mutex);
    m_sinks.erase(socket);
}

void Station::detach_expired(uint16_t socket)
{
    std::lock_guard lock(m_mutex);
    auto it = m_sinks.find(socket);
    if (it != m_sinks.end() && it->second.expired())
        m_sinks.erase(it);
}

net::Status Station::send(uint8_t packet_type, uint16_t src_socket, const Address& dest, const uint8_t* data,
                          size_t len)
{
    if (len > kMaxData)
        return net::WsaError{WSAEMSGSIZE};
    if (dest.network != 0 && dest.network != m_config.network)
        return net::WsaError{WSAENETUNREACH};
    uint8_t packet[kMaxPacket];
    Header h;
    h.length = static_cast<uint16_t>(kHeaderSize + len);
    h.packet_type = packet_type;
    h.dest = dest;
    h.src = Address{m_config.network, m_node, src_socket};
    encode_header(h, packet);
    if (len > 0)
        std::memcpy(packet + kHeaderSize, data, len);

    sockaddr_in to;
    if (dest.node == kBroadcastNode) {
        to = inet_address(m_config.group_addr, htons(m_config.group_port));
    } else {
        uint32_t addr;
        uint16_t port;
        endpoint_of(dest.node, &addr, &port);
        if (addr == 0 || port == 0)
            return net::WsaError{WSAEADDRNOTAVAIL};
        to = inet_address(addr, port);
    }
    return transmit(packet, h.length, to.sin_addr.s_addr, to.sin_port);
}

net::Status Station::transmit_now(const uint8_t* packet, size_t len, uint32_t to_addr, uint16_t to_port)
{
    const sockaddr_in to = inet_address(to_addr, to_port);
    for (;;) {
        if (::sendto(m_unicast_fd, packet, len, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to) >= 0)
            return net::ok();
        if (errno != EINTR)
            return net::WsaError{net::wsa_error_from_errno(errno)};
    }
}

void Station::set_faults(const FaultPlan& plan)
{
    std::lock_guard lock(m_fault_mutex);
    m_faults = plan;
    m_rng.seed(plan.seed);
    m_held_out.reset();
    m_held_in.reset();
    m_faulty.store(plan.any());
}

bool Station::roll_locked(unsigned percent)
{
    return percent > 0 && std::uniform_int_distribution<unsigned>(0, 99)(m_rng) < percent;
}

net::Status Station::transmit(const uint8_t* packet, size_t len, uint32_t to_addr, uint16_t to_port)
{
    if (!m_faulty.load())
        return transmit_now(packet, len, to_addr, to_port);
    // A lost packet still counts as sent: the sender cannot tell either.
    std::lock_guard lock(m_fault_mutex);
    if (!m_faults.on_send)
        return transmit_now(packet, len, to_addr, to_port);
    if (roll_locked(m_faults.drop_percent))
        return net::ok();
    if (!m_held_out && roll_locked(m_faults.reorder_percent)) {
        m_held_out = HeldPacket{std::vector<uint8_t>(packet, packet + len), to_addr, to_port, false};
        return net::ok();
    }
    auto st = transmit_now(packet, len, to_addr, to_port);
    if (st && roll_locked(m_faults.duplicate_percent))
        st = transmit_now(packet, len, to_addr, to_port);
    if (m_held_out) {
        const HeldPacket held = std::move(*m_held_out);
        m_held_out.reset();
        // NOTE: the held packet's fate is not this send's: a loss of it is
        // a lost packet, which the sender's timers recover.
        (void)transmit_now(held.bytes.data(), held.bytes.size(), held.to_addr, held.to_port);
    }
    return st;
}

void Station::receive_faulty(const uint8_t* buf, size_t n, bool from_group)
{
    std::optional<HeldPacket> release;
    int copies = 1;
    {
        std::lock_guard lock(m_fault_mutex);
        if (m_faults.on_receive) {
            if (roll_locked(m_faults.drop_percent))
                return;
            if (!m_held_in && roll_locked(m_faults.reorder_percent)) {
                m_held_in = HeldPacket{std::vector<uint8_t>(buf, buf + n), 0, 0, from_group};
                return;
            }
            if (roll_locked(m_faults.duplicate_percent))
                copies = 2;
            release = std::move(m_held_in);
            m_held_in.reset();
        }
    }
    for (int i = 0; i < copies; ++i)
        handle(buf, n, from_group);
    if (release)
        handle(release->bytes.data(), release->bytes.size(), release->from_group);
}

Station::Counters Station::counters() const
{
    Counters c;
    c.delivered = m_delivered.load();
    c.own_broadcasts = m_own_broadcasts.load();
    c.malformed = m_malformed.load();
    c.not_for_us = m_not_for_us.load();
    c.no_socket = m_no_socket.load();
    return c;
}

void Station::receive_loop()
{
    pollfd fds[3] = {{m_unicast_fd, POLLIN, 0}, {m_group_fd, POLLIN, 0}, {m_stop.fd(), POLLIN, 0}};
    for (;;) {
        for (pollfd& p : fds)
            p.revents = 0;
        if (::poll(fds, 3, -1) < 0) {
            if (errno == EINTR || errno == ENOMEM)
                continue;
            return;
        }
        if (fds[2].revents)
            return;
        if (fds[0].revents)
            drain(m_unicast_fd, false);
        if (fds[1].revents)
            drain(m_group_fd, true);
    }
}

void Station::drain(int fd, bool from_group)
{
    // Room for one more byte than a packet may have, to see oversized ones.
    uint8_t buf[kMaxPacket + 1];
    for (;;) {
        const ssize_t n = ::recv(fd, buf, sizeof buf, MSG_DONTWAIT | MSG_TRUNC);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return; // EAGAIN: all read. Anything else (an ICMP error) is not ours to keep.
        }
        if (static_cast<size_t>(n) > kMaxPacket) {
            ++m_malformed;
            continue;
        }
        if (m_faulty.load())
            receive_faulty(buf, static_cast<size_t>(n), from_group);
        else
            handle(buf, static_cast<size_t>(n), from_group);
    }
}

void Station::handle(const uint8_t* buf, size_t n, bool from_group)
{
    const auto h = decode_header(buf, n);
    if (!h) {
        ++m_malformed;
        return;
    }
    if (from_group && h->src.node == m_node) {
        ++m_own_broadcasts;
        return;
    }
    const bool to_us = from_group ? h->dest.node == kBroadcastNode
                                  : (h->dest.node == m_node || h->dest.node == kBroadcastNode);
    if (!to_us || (h->dest.network != 0 && h->dest.network != m_config.network)) {
        ++m_not_for_us;
        return;
    }
    std::shared_ptr<PacketSink> sink;
    {
        std::lock_guard lock(m_mutex);
        auto it = m_sinks.find(h->dest.socket);
        if (it != m_sinks.end())
            sink = it->second.lock();
    }
    if (!sink) {
        ++m_no_socket;
        return;
    }
    sink->deliver(*h, buf + kHeaderSize, h->length - kHeaderSize);
    ++m_delivered;
}

} // namespace kolm::platform::ipx
