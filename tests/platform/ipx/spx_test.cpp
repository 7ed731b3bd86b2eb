// SPX stream sockets within one station, and against a raw peer that
// speaks the wire format by hand.
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <set>
#include <thread>
#include <vector>

#include "ipx/spx_socket.h"
#include "ipx/spx_wire.h"
#include "ipx/station.h"
#include "ipx_test_util.h"
#include "devsim_process.h"
#include "raw_station.h"
#include "winsock/socket_table.h"

namespace {

using namespace kolm::test;
namespace ipx = kolm::platform::ipx;
using Clock = std::chrono::steady_clock;

// Fast timers for every test; restored afterwards.
class Spx : public WinsockTest {
protected:
    void SetUp() override
    {
        WinsockTest::SetUp();
        set("KOLM_SPX_RTO_MS", "20");
        set("KOLM_SPX_RTO_MAX_MS", "200");
        set("KOLM_SPX_CONNECT_MS", "50");
        set("KOLM_SPX_CONNECT_RETRIES", "10");
        set("KOLM_SPX_VERIFY_MS", "200");
        set("KOLM_SPX_LISTEN_MS", "300");
        set("KOLM_SPX_ABORT_MS", "1500");
    }
    void TearDown() override
    {
        for (SOCKET s : opened)
            closesocket(s);
        if (auto st = ipx::Station::acquire())
            (*st)->set_faults({});
        for (auto& [name, old] : saved)
            old.empty() ? unsetenv(name.c_str()) : setenv(name.c_str(), old.c_str(), 1);
        WinsockTest::TearDown();
    }
    void set(const std::string& name, const std::string& value)
    {
        const char* old = std::getenv(name.c_str());
        saved.emplace_back(name, old ? old : "");
        setenv(name.c_str(), value.c_str(), 1);
    }
    SOCKET track(SOCKET s)
    {
        if (s != INVALID_SOCKET)
            opened.push_back(s);
        return s;
    }
    SOCKET spx() { return track(socket(AF_IPX, SOCK_STREAM, NSPROTO_SPX)); }
    SOCKET listener(u_short number = 0)
    {
        const SOCKET s = spx();
        sockaddr_ipx a{};
        a.sa_family = AF_IPX;
        a.sa_socket = htons(number);
        EXPECT_EQ(bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a), 0) << WSAGetLastError();
        EXPECT_EQ(listen(s, 5), 0) << WSAGetLastError();
        return s;
    }
    // A connected pair: (client, accepted).
    std::pair<SOCKET, SOCKET> pair()
    {
        const SOCKET l = listener();
        const SOCKET c = spx();
        const sockaddr_ipx to = ipx_name(l);
        EXPECT_EQ(connect(c, reinterpret_cast<const sockaddr*>(&to), sizeof to), 0) << WSAGetLastError();
        const SOCKET a = track(accept(l, nullptr, nullptr));
        EXPECT_NE(a, INVALID_SOCKET) << WSAGetLastError();
        return {c, a};
    }
    std::vector<SOCKET> opened;
    std::vector<std::pair<std::string, std::string>> saved;
};

std::shared_ptr<ipx::SpxConnection> conn_of(SOCKET s)
{
    auto sock = kolm::platform::winsock::SocketTable::instance().find(static_cast<uint32_t>(s));
    auto* spx = dynamic_cast<ipx::SpxSocket*>(sock.get());
    return spx ? spx->connection() : nullptr;
}

std::string pattern(size_t n, unsigned seed)
{
    std::string s(n, '\0');
    uint32_t x = seed * 2654435761u + 1;
    for (auto& c : s) {
        x = x * 1103515245u + 12345u;
        c = static_cast<char>(x >> 16);
    }
    return s;
}

bool send_all(SOCKET s, const std::string& data)
{
    size_t done = 0;
    while (done < data.size()) {
        const int n = send(s, data.data() + done, static_cast<int>(std::min<size_t>(data.size() - done, 8192)), 0);
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

// Sends `data` from a to b on another thread and reads it at b.
std::string transfer(SOCKET a, SOCKET b, const std::string& data)
{
    bool sent = false;
    std::thread sender([&] { sent = send_all(a, data); });
    std::string got = recv_exactly(b, data.size());
    sender.join();
    EXPECT_TRUE(sent);
    return got;
}

TEST_F(Spx, StreamBothWaysThenOrderlyCloseEndsThePeersStream)
{
    auto [c, a] = pair();
    // Sends of every size around the packet boundary arrive as one stream.
    std::string expect;
    for (int n : {1, 533, 534, 535, 1068, 5000}) {
        const std::string piece = pattern(static_cast<size_t>(n), static_cast<unsigned>(n));
        ASSERT_EQ(send(c, piece.data(), n, 0), n);
        expect += piece;
    }
    EXPECT_EQ(recv_exactly(a, expect.size()), expect);
    EXPECT_EQ(transfer(a, c, pattern(40000, 7)), pattern(40000, 7));

    sockaddr_ipx peer{};
    int len = sizeof peer;
    ASSERT_EQ(getpeername(a, reinterpret_cast<sockaddr*>(&peer), &len), 0);
    EXPECT_EQ(ipx_text(peer), ipx_text(ipx_name(c)));

    ASSERT_EQ(send(c, "tail", 4, 0), 4);
    ASSERT_EQ(closesocket(c), 0);
    opened.erase(std::find(opened.begin(), opened.end(), c));
    // The data before the close comes first, then the end of the stream.
    EXPECT_EQ(recv_exactly(a, 4), "tail");
    ASSERT_TRUE(wait_for(a, Set::read));
    char b[8];
    EXPECT_EQ(recv(a, b, sizeof b, 0), 0);
    EXPECT_EQ(send(a, "x", 1, 0), SOCKET_ERROR);
}

TEST_F(Spx, FionreadCountsQueuedBytesAndRecvTakesThemAcrossPackets)
{
    auto [c, a] = pair();
    const std::string data = pattern(1200, 3);
    ASSERT_EQ(send(c, data.data(), 1200, 0), 1200);
    u_long avail = 0;
    ASSERT_TRUE(wait_until([&] { return ioctlsocket(a, FIONREAD, &avail) == 0 && avail == 1200; }));
    std::string got(1200, '\0');
    EXPECT_EQ(recv(a, got.data(), 1200, 0), 1200) << "one recv returns bytes of several packets";
    EXPECT_EQ(got, data);
    u_long on = 1;
    ioctlsocket(a, FIONBIO, &on);
    EXPECT_EQ(recv(a, got.data(), 10, 0), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAEWOULDBLOCK);
}

TEST_F(Spx, AbortiveCloseIsAResetAtThePeer)
{
    auto [c, a] = pair();
    linger l{1, 0};
    ASSERT_EQ(setsockopt(c, SOL_SOCKET, SO_LINGER, reinterpret_cast<char*>(&l), sizeof l), 0);
    ASSERT_EQ(closesocket(c), 0);
    opened.erase(std::find(opened.begin(), opened.end(), c));
    ASSERT_TRUE(wait_for(a, Set::read));
    char b[8];
    EXPECT_EQ(recv(a, b, sizeof b, 0), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAECONNRESET);
}

TEST_F(Spx, ClosesocketWakesABlockedRecv)
{
    auto [c, a] = pair();
    int result = 0, error = 0;
    std::thread reader([&, a = a] {
        char b[8];
        result = recv(a, b, sizeof b, 0);
        error = WSAGetLastError();
    });
    // The reader is blocked or about to be; either way the close ends it.
    ASSERT_TRUE(wait_until([&] { return conn_of(a) != nullptr; }));
    closesocket(a);
    opened.erase(std::find(opened.begin(), opened.end(), a));
    reader.join();
    // Woken (WSAEINTR), or not yet blocked when the socket went (WSAENOTSOCK):
    // what matters is that the reader is not left hanging.
    EXPECT_EQ(result, SOCKET_ERROR);
    EXPECT_TRUE(error == WSAEINTR || error == WSAENOTSOCK) << error;
}

TEST_F(Spx, ConnectionsStillClosingKeepTheirStationUntilTheyAreDone)
{
    // The last socket may go before the timer thread has looked at the new
    // connections; holding it back makes sure it has not.
    std::weak_ptr<ipx::Station> station;
    {
        const auto paused = ipx::SpxEngine::instance().pause();
        auto [c, a] = pair();
        ASSERT_NE(a, INVALID_SOCKET);
        station = *ipx::Station::acquire();
        for (SOCKET s : opened)
            closesocket(s);
        opened.clear();
        EXPECT_FALSE(station.expired()) << "the closing connections still use their station";
    }
    EXPECT_TRUE(wait_until([&] { return station.expired(); })) << "let go once they are done";
    // A new station serves the next connection.
    auto [c, a] = pair();
    EXPECT_EQ(transfer(c, a, pattern(2000, 4)), pattern(2000, 4));
}

TEST_F(Spx, SequenceNumbersWrapWithoutLossOrDuplication)
{
    set("KOLM_SPX_FIRST_SEQ", "0xFFF0");
    auto [c, a] = pair();
    const std::string data = pattern(200 * 534 + 17, 11);
    EXPECT_EQ(transfer(c, a, data), data);
    const auto snap = conn_of(a)->snapshot();
    EXPECT_LT(snap.expected, 0x0100) << "over 16 packets, so the count wrapped past 0xFFFF: " << snap.expected;
    EXPECT_EQ(transfer(a, c, data), data);
}

TEST_F(Spx, SixteenMegabytesThroughLossReorderingAndDuplication)
{
    set("KOLM_SPX_WINDOW", "32");
    set("KOLM_SPX_RTO_MS", "10");
    set("KOLM_SPX_RTO_MAX_MS", "40");
    set("KOLM_SPX_RETRIES", "40");
    auto [c, a] = pair();
    auto st = ipx::Station::acquire();
    ASSERT_TRUE(st);
    ipx::FaultPlan plan;
    plan.drop_percent = 20;
    plan.reorder_percent = 20;
    plan.duplicate_percent = 20;
    plan.seed = 42;
    plan.on_receive = false; // both ends are in this station: count each packet once
    (*st)->set_faults(plan);
    const auto start = Clock::now();
    const std::string data = pattern(16u << 20, 5);
    const std::string got = transfer(c, a, data);
    const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
    EXPECT_EQ(got.size(), data.size());
    EXPECT_TRUE(got == data) << "bytes differ";
    RecordProperty("milliseconds", static_cast<int>(took.count()));
    std::printf("16 MiB with faults took %lld ms, %zu retransmissions\n", static_cast<long long>(took.count()),
                conn_of(c)->snapshot().retransmissions);
}

TEST_F(Spx, NonBlockingConnectEndsInTheWriteSetOrTheExceptSet)
{
    struct Row {
        const char* what;
        bool listening;
    };
    for (const Row& row : {Row{"a listener", true}, Row{"nobody", false}}) {
        SCOPED_TRACE(row.what);
        const SOCKET target = row.listening ? listener() : ipx_socket(0); // a number without SPX
        const sockaddr_ipx to = ipx_name(target);
        const SOCKET c = spx();
        u_long on = 1;
        ASSERT_EQ(ioctlsocket(c, FIONBIO, &on), 0);
        ASSERT_EQ(connect(c, reinterpret_cast<const sockaddr*>(&to), sizeof to), SOCKET_ERROR);
        EXPECT_EQ(WSAGetLastError(), WSAEWOULDBLOCK);
        if (row.listening) {
            // Within one station the answer may already be in: then the
            // socket is connected. Either way the attempt is not repeated.
            EXPECT_EQ(connect(c, reinterpret_cast<const sockaddr*>(&to), sizeof to), SOCKET_ERROR);
            const int again = WSAGetLastError();
            EXPECT_TRUE(again == WSAEALREADY || again == WSAEISCONN) << again;
        }

        fd_set w, e;
        FD_ZERO(&w);
        FD_ZERO(&e);
        FD_SET(c, &w);
        FD_SET(c, &e);
        timeval tv{10, 0};
        ASSERT_EQ(select(0, nullptr, &w, &e, &tv), 1);
        int err = -1, len = sizeof err;
        ASSERT_EQ(getsockopt(c, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&err), &len), 0);
        if (row.listening) {
            EXPECT_TRUE(FD_ISSET(c, &w));
            EXPECT_EQ(err, 0);
            EXPECT_EQ(connect(c, reinterpret_cast<const sockaddr*>(&to), sizeof to), SOCKET_ERROR);
            EXPECT_EQ(WSAGetLastError(), WSAEISCONN);
        } else {
            EXPECT_TRUE(FD_ISSET(c, &e));
            EXPECT_EQ(err, WSAETIMEDOUT);
        }
        if (!row.listening)
            closesocket(target);
    }
}

TEST_F(Spx, SelectWaitsOnTcpIpxAndSpxTogether)
{
    u_short port = 0;
    const SOCKET tl = track(listen_loopback(&port));
    const SOCKET tc = track(connect_loopback(port));
    const SOCKET ta = track(accept(tl, nullptr, nullptr));
    const SOCKET d1 = track(ipx_socket(0)), d2 = track(ipx_socket(0));
    auto [c, a] = pair();

    struct Row {
        const char* what;
        std::function<void()> make_readable;
        SOCKET expect;
    };
    const sockaddr_ipx d2name = ipx_name(d2);
    const std::vector<Row> rows{
        {"tcp", [&, tc = tc] { send(tc, "t", 1, 0); }, ta},
        {"ipx", [&] { sendto(d1, "i", 1, 0, reinterpret_cast<const sockaddr*>(&d2name), sizeof d2name); }, d2},
        {"spx", [&, c = c] { send(c, "s", 1, 0); }, a},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        row.make_readable();
        fd_set r;
        FD_ZERO(&r);
        for (SOCKET s : {ta, d2, a})
            FD_SET(s, &r);
        timeval tv{10, 0};
        ASSERT_EQ(select(0, &r, nullptr, nullptr, &tv), 1);
        EXPECT_TRUE(FD_ISSET(row.expect, &r));
        char b[4];
        EXPECT_EQ(recv(row.expect, b, sizeof b, 0), 1);
    }
}

// A peer written by hand, to see what the stack puts on the wire.
class RawSpxPeer {
public:
    explicit RawSpxPeer(uint16_t socket_number) : m_socket(socket_number) {}
    RawStation station;
    uint16_t m_socket;
    ipx::Address them{};
    uint16_t their_id = 0;
    uint16_t my_id = 0x1234;

    struct Packet {
        ipx::Header ipx;
        ipx::SpxHeader spx;
        std::vector<uint8_t> data;
    };
    std::optional<Packet> receive(int timeout_ms)
    {
        auto raw = station.receive(timeout_ms);
        if (!raw)
            return std::nullopt;
        auto h = ipx::decode_header(raw->data(), raw->size());
        if (!h || raw->size() < 42)
            return std::nullopt;
        auto s = ipx::decode_spx(raw->data() + 30, raw->size() - 30);
        return Packet{*h, *s, std::vector<uint8_t>(raw->begin() + 42, raw->begin() + h->length)};
    }
    void send(ipx::SpxHeader h, const ipx::Address& to)
    {
        std::vector<uint8_t> p(42);
        ipx::Header ih;
        ih.length = 42;
        ih.packet_type = ipx::kSpxPacketType;
        ih.dest = to;
        ih.src = ipx::Address{kTestNetwork, station.node(), m_socket};
        ipx::encode_header(ih, p.data());
        ipx::encode_spx(h, p.data() + 30);
        station.send_to_node(to.node, p);
    }
    ipx::Address address() const { return ipx::Address{kTestNetwork, station.node(), m_socket}; }
};

sockaddr_ipx to_sockaddr(const ipx::Address& a)
{
    return ipx_address(reinterpret_cast<const char*>(a.node.data()), a.socket);
}

TEST_F(Spx, HandshakeSurvivesLostRequestsAndTheWindowIsNeverOverrun)
{
    RawSpxPeer peer(0x6001);
    const SOCKET c = spx();
    const sockaddr_ipx to = to_sockaddr(peer.address());
    u_long on = 1;
    ASSERT_EQ(ioctlsocket(c, FIONBIO, &on), 0);
    ASSERT_EQ(connect(c, reinterpret_cast<const sockaddr*>(&to), sizeof to), SOCKET_ERROR);

    // The first two requests are "lost": the peer ignores them.
    std::optional<RawSpxPeer::Packet> req;
    for (int i = 0; i < 3; ++i) {
        req = peer.receive(5000);
        ASSERT_TRUE(req) << "request " << i;
        EXPECT_EQ(req->spx.control, ipx::kSpxSys | ipx::kSpxAckReq);
        EXPECT_EQ(req->spx.dst_id, ipx::kSpxUnknownId);
        EXPECT_EQ(req->ipx.length, 42);
    }
    // Answer with a window of three packets: 0, 1 and 2.
    peer.them = req->ipx.src;
    peer.their_id = req->spx.src_id;
    peer.send({ipx::kSpxSys, 0, peer.my_id, peer.their_id, 0, 0, 2}, peer.them);
    ASSERT_TRUE(wait_for(c, Set::write));

    const std::string data = pattern(10 * 534, 9);
    EXPECT_EQ(send(c, data.data(), static_cast<int>(data.size()), 0), static_cast<int>(data.size()));
    // Whatever comes, first sends and retransmissions, stays within 0..2.
    uint16_t highest = 0;
    for (auto p = peer.receive(500); p; p = peer.receive(300)) {
        if (p->spx.is_system())
            continue;
        EXPECT_LE(p->spx.seq, 2) << "beyond the allocation";
        highest = std::max(highest, p->spx.seq);
        EXPECT_EQ(p->data.size(), 534u);
        if (highest == 2 && conn_of(c)->snapshot().retransmissions > 0)
            break;
    }
    EXPECT_EQ(highest, 2);
    // Acknowledge 0..2 and allow up to 4: only 3 and 4 follow.
    peer.send({ipx::kSpxSys, 0, peer.my_id, peer.their_id, 0, 3, 4}, peer.them);
    std::set<uint16_t> seen;
    for (auto p = peer.receive(500); p && seen.size() < 2; p = peer.receive(500))
        if (!p->spx.is_system() && p->spx.seq >= 3) { // 0..2 may still be on their way
            EXPECT_LE(p->spx.seq, 4) << "beyond the allocation";
            seen.insert(p->spx.seq);
        }
    EXPECT_EQ(seen.size(), 2u);
}

TEST_F(Spx, ASecondConnectIsAlreadyWhileTheFirstIsUnderWayAndIsConnOnceItIsDone)
{
    // The peer answers only when told to; until then the connect stays
    // under way, for as long as the retries last.
    set("KOLM_SPX_CONNECT_RETRIES", "200");
    RawSpxPeer peer(0x6003);
    const SOCKET c = spx();
    const sockaddr_ipx to = to_sockaddr(peer.address());
    u_long on = 1;
    ASSERT_EQ(ioctlsocket(c, FIONBIO, &on), 0);
    ASSERT_EQ(connect(c, reinterpret_cast<const sockaddr*>(&to), sizeof to), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAEWOULDBLOCK);
    const auto req = peer.receive(5000);
    ASSERT_TRUE(req);
    EXPECT_EQ(connect(c, reinterpret_cast<const sockaddr*>(&to), sizeof to), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAEALREADY);
    EXPECT_FALSE(wait_for(c, Set::write, 0));

    peer.send({ipx::kSpxSys, 0, peer.my_id, req->spx.src_id, 0, 0, 2}, req->ipx.src);
    ASSERT_TRUE(wait_for(c, Set::write));
    EXPECT_EQ(connect(c, reinterpret_cast<const sockaddr*>(&to), sizeof to), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAEISCONN);
}

TEST_F(Spx, APeerThatFallsSilentEndsTheConnectionAndABlockedRecvFails)
{
    RawSpxPeer peer(0x6002);
    const SOCKET l = listener();
    const sockaddr_ipx lname = ipx_name(l);
    ipx::Address target{kTestNetwork, {}, ntohs(lname.sa_socket)};
    std::memcpy(target.node.data(), lname.sa_nodenum, 6);
    // A repeated request is answered again but makes one connection only.
    for (int i = 0; i < 2; ++i)
        peer.send({ipx::kSpxSys | ipx::kSpxAckReq, 0, peer.my_id, ipx::kSpxUnknownId, 0, 0, 3}, target);
    std::set<uint16_t> ids;
    for (int i = 0; i < 2; ++i) {
        auto reply = peer.receive(5000);
        ASSERT_TRUE(reply);
        EXPECT_EQ(reply->spx.control, ipx::kSpxSys);
        EXPECT_EQ(reply->spx.dst_id, peer.my_id);
        ids.insert(reply->spx.src_id);
    }
    EXPECT_EQ(ids.size(), 1u);
    const SOCKET a = track(accept(l, nullptr, nullptr));
    ASSERT_NE(a, INVALID_SOCKET);
    u_long on = 1;
    ioctlsocket(l, FIONBIO, &on);
    EXPECT_EQ(accept(l, nullptr, nullptr), INVALID_SOCKET);

    // The peer says nothing more: watchdog requests go out, then the end.
    const auto start = Clock::now();
    char b[8];
    EXPECT_EQ(recv(a, b, sizeof b, 0), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAECONNABORTED);
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(10));
    bool watchdog = false;
    while (auto p = peer.receive(0))
        watchdog |= p->spx.control == (ipx::kSpxSys | ipx::kSpxAckReq);
    EXPECT_TRUE(watchdog) << "the connection asked before it gave up";
}

} // namespace

namespace {

using namespace kolm::test;

// devsim's SPX channels, found through its SAP answer line and reached
// through its own faulty station.
class SpxDevsim : public WinsockTest {};

TEST_F(SpxDevsim, EchoesThroughItsLossyStationAndClosesAfterN)
{
    setenv("KOLM_SPX_RTO_MS", "20", 1);
    setenv("KOLM_SPX_RTO_MAX_MS", "100", 1);
    struct Row {
        const char* mode;
        size_t send, expect;
        bool closes;
    };
    for (const Row& row : {Row{"echo", 300000, 300000, false}, Row{"close:1000", 1000, 1000, true}}) {
        SCOPED_TRACE(row.mode);
        DevsimProcess devsim({"--spx", "--sap", "ECHOER,5100", "--spx-mode", row.mode, "--drop", "10", "--reorder",
                              "10", "--duplicate", "10", "--seed", "7"});
        ASSERT_TRUE(devsim.ready()) << devsim.error();
        std::string spx_line;
        for (const auto& l : devsim.lines())
            if (l.rfind("spx ", 0) == 0)
                spx_line = l;
        ASSERT_GT(spx_line.size(), 31u) << spx_line;
        char node[6];
        for (int i = 0; i < 6; ++i)
            node[i] = static_cast<char>(std::stoi(spx_line.substr(13 + 2 * i, 2), nullptr, 16));
        EXPECT_EQ(spx_line.substr(26, 4), "5900") << "the advertised socket + 0x0800";
        const sockaddr_ipx to = ipx_address(node, 0x5900);
        const SOCKET c = socket(AF_IPX, SOCK_STREAM, NSPROTO_SPX);
        ASSERT_EQ(connect(c, reinterpret_cast<const sockaddr*>(&to), sizeof to), 0) << WSAGetLastError();
        const std::string data(row.send, 'q');
        std::thread sender([&] { send_all(c, data); });
        EXPECT_EQ(recv_exactly(c, row.expect), data.substr(0, row.expect));
        sender.join();
        if (row.closes) {
            char b[4];
            ASSERT_TRUE(wait_for(c, Set::read, 20));
            EXPECT_EQ(recv(c, b, sizeof b, 0), 0);
        }
        closesocket(c);
    }
    unsetenv("KOLM_SPX_RTO_MS");
    unsetenv("KOLM_SPX_RTO_MAX_MS");
}

} // namespace
