#include "sap_responder.h"

#include <arpa/inet.h>
#include <mutex>

#include "ipx/station.h"
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/timerfd.h>
#include <unistd.h>

namespace devsim {

namespace ipx = kolm::platform::ipx;

namespace {

constexpr uint16_t kSapSocket = 0x0452;
constexpr uint16_t kServerType = 0x052C;
constexpr uint16_t kAllTypes = 0xFFFF;
constexpr size_t kHeader = 30;
constexpr size_t kEntry = 64;
constexpr size_t kMaxPacket = 576;

uint16_t be16(const uint8_t* p)
{
    return static_cast<uint16_t>(p[0] << 8 | p[1]);
}

uint32_t be32(const uint8_t* p)
{
    return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 | static_cast<uint32_t>(p[2]) << 8 | p[3];
}

void put16(std::vector<uint8_t>& out, uint16_t v)
{
    out.push_back(static_cast<uint8_t>(v >> 8));
    out.push_back(static_cast<uint8_t>(v));
}

void put32(std::vector<uint8_t>& out, uint32_t v)
{
    put16(out, static_cast<uint16_t>(v >> 16));
    put16(out, static_cast<uint16_t>(v));
}

const char* env_or(const char* name, const char* fallback)
{
    const char* v = std::getenv(name);
    return v && *v ? v : fallback;
}

std::string hex(const uint8_t* p, size_t n)
{
    std::string s;
    char b[3];
    for (size_t i = 0; i < n; ++i) {
        std::snprintf(b, sizeof b, "%02X", p[i]);
        s += b;
    }
    return s;
}

} // namespace

// The SAP socket on the platform's station: packets come in on the
// station's receiver thread and wait here for the poll loop, re-encoded as
// they travelled so that one parser serves both ways of joining.
class StationLink final : public ipx::PacketSink, public std::enable_shared_from_this<StationLink> {
public:
    explicit StationLink(std::shared_ptr<ipx::Station> station) : m_station(std::move(station)) {}
    ~StationLink() override
    {
        if (m_attached)
            m_station->detach_expired(kSapSocket);
    }
    bool attach()
    {
        m_attached = static_cast<bool>(m_station->attach(kSapSocket, weak_from_this()));
        return m_attached && m_ready.valid();
    }
    int fd() const { return m_ready.fd(); }
    void deliver(const ipx::Header& header, const uint8_t* data, size_t len) override
    {
        std::vector<uint8_t> packet(ipx::kHeaderSize + len);
        ipx::encode_header(header, packet.data());
        std::memcpy(packet.data() + ipx::kHeaderSize, data, len);
        std::lock_guard lock(m_mutex);
        if (m_queue.size() < 256)
            m_queue.push_back(std::move(packet));
        m_ready.set();
    }
    std::vector<std::vector<uint8_t>> take()
    {
        std::lock_guard lock(m_mutex);
        m_ready.clear();
        return std::exchange(m_queue, {});
    }
    // A whole packet as the responder built it; the station puts in its
    // own source address.
    void send(const std::vector<uint8_t>& packet)
    {
        const auto h = ipx::decode_header(packet.data(), packet.size());
        // A lost answer is a lost datagram: the asker asks again.
        if (h)
            (void)m_station->send(h->packet_type, kSapSocket, h->dest, packet.data() + ipx::kHeaderSize,
                            h->length - ipx::kHeaderSize);
    }

private:
    const std::shared_ptr<ipx::Station> m_station;
    bool m_attached = false;
    std::mutex m_mutex;
    std::vector<std::vector<uint8_t>> m_queue;
    kolm::platform::net::EventFd m_ready;
};

SapResponder::~SapResponder()
{
    if (m_advert_timer >= 0)
        ::close(m_advert_timer);
    if (m_unicast >= 0)
        ::close(m_unicast);
    if (m_group >= 0)
        ::close(m_group);
}

bool SapResponder::start(const Options& options, std::string* error, std::shared_ptr<ipx::Station> station)
{
    m_split = options.sap_split;
    m_silent = options.sap_silent;
    m_bcast_only = options.sap_bcast_only;
    if (options.sap_every_ms > 0) {
        m_advert_timer = ::timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
        const timespec every{static_cast<time_t>(options.sap_every_ms / 1000),
                             static_cast<long>(options.sap_every_ms % 1000) * 1000000L};
        const itimerspec period{every, every};
        if (m_advert_timer < 0 || ::timerfd_settime(m_advert_timer, 0, &period, nullptr) != 0) {
            *error = std::string("--sap-every timer: ") + std::strerror(errno);
            return false;
        }
    }
    if (station) {
        m_link = std::make_shared<StationLink>(station);
        if (!m_link->attach()) {
            *error = "SAP socket 0x0452 is taken on the SPX station";
            return false;
        }
        m_network = station->network();
        m_node = station->node();
        add_entries(options);
        return true;
    }

    const std::string iface_text = env_or("KOLM_IPX_IF", "127.0.0.1");
    const std::string group_text = env_or("KOLM_IPX_GROUP", "239.255.2.13:21300");
    const std::string net_text = env_or("KOLM_IPX_NET", "00000001");
    in_addr iface{}, group{};
    const size_t colon = group_text.find(':');
    m_group_port = colon == std::string::npos ? 21300 : static_cast<uint16_t>(std::atoi(group_text.c_str() + colon + 1));
    char* end = nullptr;
    m_network = static_cast<uint32_t>(std::strtoul(net_text.c_str(), &end, 16));
    if (::inet_pton(AF_INET, iface_text.c_str(), &iface) != 1
        || ::inet_pton(AF_INET, group_text.substr(0, colon).c_str(), &group) != 1 || m_group_port == 0
        || *end != '\0') {
        *error = "bad segment settings (KOLM_IPX_IF, KOLM_IPX_GROUP, KOLM_IPX_NET)";
        return false;
    }
    m_group_addr = group.s_addr;

    m_unicast = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    m_group = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr = iface;
    socklen_t len = sizeof local;
    sockaddr_in gaddr{};
    gaddr.sin_family = AF_INET;
    gaddr.sin_addr = group;
    gaddr.sin_port = htons(m_group_port);
    ip_mreqn join{};
    join.imr_multiaddr = group;
    join.imr_address = iface;
    const int on = 1, off = 0, ttl = 1;
    if (m_unicast < 0 || m_group < 0
        || ::bind(m_unicast, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0
        || ::getsockname(m_unicast, reinterpret_cast<sockaddr*>(&local), &len) != 0
        || ::setsockopt(m_unicast, IPPROTO_IP, IP_MULTICAST_IF, &iface, sizeof iface) != 0
        || ::setsockopt(m_unicast, IPPROTO_IP, IP_MULTICAST_TTL, &ttl, sizeof ttl) != 0
        || ::setsockopt(m_group, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0
        || ::bind(m_group, reinterpret_cast<sockaddr*>(&gaddr), sizeof gaddr) != 0
        || ::setsockopt(m_group, IPPROTO_IP, IP_MULTICAST_ALL, &off, sizeof off) != 0
        || ::setsockopt(m_group, IPPROTO_IP, IP_ADD_MEMBERSHIP, &join, sizeof join) != 0) {
        *error = std::string("joining the IPX segment: ") + std::strerror(errno);
        return false;
    }
    std::memcpy(m_node.data(), &local.sin_addr.s_addr, 4);
    std::memcpy(m_node.data() + 4, &local.sin_port, 2);

    add_entries(options);
    return true;
}

void SapResponder::add_entries(const Options& options)
{
    const uint32_t adv_net = options.sap_net.value_or(m_network);
    const Node adv_node = options.sap_node.value_or(m_node);
    uint16_t next_dynamic = 0x4000;
    for (const SapName& s : options.sap) {
        const uint16_t socket = s.socket.value_or(next_dynamic++);
        m_entries.push_back({kServerType, s.name, adv_net, adv_node, socket});
        uint8_t net_be[4] = {static_cast<uint8_t>(adv_net >> 24), static_cast<uint8_t>(adv_net >> 16),
                             static_cast<uint8_t>(adv_net >> 8), static_cast<uint8_t>(adv_net)};
        std::printf("sap %s %s:%s:%04X\n", s.name.c_str(), hex(net_be, 4).c_str(), hex(adv_node.data(), 6).c_str(),
                    socket);
    }
    for (const SapName& s : options.sap_other)
        m_entries.push_back({s.type, s.name, adv_net, adv_node, next_dynamic++});
}

size_t SapResponder::collect(std::vector<pollfd>& fds)
{
    // The advertisement timer goes first; without one its place stays
    // empty (poll ignores a negative descriptor).
    fds.push_back({m_advert_timer, POLLIN, 0});
    if (m_link) {
        fds.push_back({m_link->fd(), POLLIN, 0});
        return 2;
    }
    fds.push_back({m_unicast, POLLIN, 0});
    fds.push_back({m_group, POLLIN, 0});
    return 3;
}

void SapResponder::dispatch(const pollfd* all, size_t all_count)
{
    if (all_count > 0 && all[0].revents) {
        uint64_t expirations;
        if (::read(m_advert_timer, &expirations, sizeof expirations) > 0)
            advertise();
    }
    const pollfd* fds = all + 1;
    const size_t count = all_count - 1;
    if (m_link) {
        if (count > 0 && fds[0].revents)
            for (const auto& packet : m_link->take())
                handle(packet.data(), packet.size(), false);
        return;
    }
    if (count > 0 && fds[0].revents)
        drain(m_unicast, false);
    if (count > 1 && fds[1].revents)
        drain(m_group, true);
}

void SapResponder::drain(int fd, bool from_group)
{
    uint8_t buf[kMaxPacket + 1];
    for (;;) {
        const ssize_t n = ::recv(fd, buf, sizeof buf, MSG_TRUNC);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        handle(buf, static_cast<size_t>(n), from_group);
    }
}

void SapResponder::handle(const uint8_t* buf, size_t size, bool from_group)
{
    const ssize_t n = static_cast<ssize_t>(size);
    {
        // The segment's framing: checksum FFFF, 30 <= length <= datagram <= 576.
        if (static_cast<size_t>(n) > kMaxPacket || n < static_cast<ssize_t>(kHeader) + 4 || be16(buf) != 0xFFFF)
            return;
        const uint16_t length = be16(buf + 2);
        if (length < kHeader + 4 || length > n)
            return;
        Query q;
        const uint32_t dest_net = be32(buf + 6);
        Node dest_node;
        std::memcpy(dest_node.data(), buf + 10, 6);
        const uint16_t dest_socket = be16(buf + 16);
        q.src_network = be32(buf + 18);
        std::memcpy(q.src_node.data(), buf + 22, 6);
        q.src_socket = be16(buf + 28);
        q.broadcast = dest_node == Node{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
        q.operation = be16(buf + kHeader);
        q.server_type = be16(buf + kHeader + 2);
        if (from_group && q.src_node == m_node)
            return; // our own broadcast
        if (dest_socket != kSapSocket || (dest_net != 0 && dest_net != m_network))
            return;
        if (!q.broadcast && dest_node != m_node)
            return;
        answer(q);
    }
}

void SapResponder::answer(const Query& q)
{
    if (m_silent || (m_bcast_only && !q.broadcast))
        return;
    if (q.operation != 0x0001 && q.operation != 0x0003)
        return;
    std::vector<const Entry*> matching;
    for (const Entry& e : m_entries) {
        // Entries of other types go out whatever was asked: a test peer
        // that answers more than it should.
        if (e.type != kServerType || q.server_type == kServerType || q.server_type == kAllTypes)
            matching.push_back(&e);
    }
    if (matching.empty())
        return;
    if (q.operation == 0x0003) {
        send_packet(q, 0x0004, {matching.front()});
        return;
    }
    for (size_t i = 0; i < matching.size(); i += m_split) {
        const size_t n = std::min<size_t>(m_split, matching.size() - i);
        send_packet(q, 0x0002, std::vector<const Entry*>(matching.begin() + static_cast<long>(i),
                                                          matching.begin() + static_cast<long>(i + n)));
    }
}

// A general service response to the whole segment's SAP socket, unasked,
// as servers advertise themselves periodically.
void SapResponder::advertise()
{
    Query everyone{};
    everyone.src_network = 0;
    everyone.src_node.fill(0xFF);
    everyone.src_socket = kSapSocket;
    everyone.broadcast = true;
    everyone.operation = 0x0001;
    everyone.server_type = kAllTypes;
    answer(everyone);
}

void SapResponder::send_packet(const Query& q, uint16_t response, const std::vector<const Entry*>& entries)
{
    std::vector<uint8_t> p;
    p.reserve(kMaxPacket);
    put16(p, 0xFFFF);
    put16(p, static_cast<uint16_t>(kHeader + 2 + kEntry * entries.size()));
    p.push_back(0); // transport control
    p.push_back(4); // packet type: PEP, as SAP traffic has it
    put32(p, q.src_network);
    p.insert(p.end(), q.src_node.begin(), q.src_node.end());
    put16(p, q.src_socket);
    put32(p, m_network);
    p.insert(p.end(), m_node.begin(), m_node.end());
    put16(p, kSapSocket);
    put16(p, response);
    for (const Entry* e : entries) {
        put16(p, e->type);
        char name[48] = {};
        std::memcpy(name, e->name.data(), std::min<size_t>(e->name.size(), sizeof name));
        p.insert(p.end(), name, name + sizeof name);
        put32(p, e->network);
        p.insert(p.end(), e->node.begin(), e->node.end());
        put16(p, e->socket);
        put16(p, 1); // hops
    }
    if (m_link) {
        m_link->send(p);
        return;
    }
    sockaddr_in to{};
    to.sin_family = AF_INET;
    if (q.src_node == Node{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}) {
        to.sin_addr.s_addr = m_group_addr;
        to.sin_port = htons(m_group_port);
    } else {
        std::memcpy(&to.sin_addr.s_addr, q.src_node.data(), 4);
        std::memcpy(&to.sin_port, q.src_node.data() + 4, 2);
    }
    while (::sendto(m_unicast, p.data(), p.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to) < 0
           && errno == EINTR) {
    }
}

} // namespace devsim
