// IPX datagram sockets within one station.
#include <algorithm>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "ipx/station.h"
#include "ipx_test_util.h"

namespace {

using namespace kolm::test;
namespace ipx = kolm::platform::ipx;

class IpxSocket : public WinsockTest {
protected:
    void TearDown() override
    {
        for (SOCKET s : opened)
            closesocket(s);
        WinsockTest::TearDown();
    }
    SOCKET open(u_short number = 0)
    {
        const SOCKET s = ipx_socket(number);
        if (s != INVALID_SOCKET)
            opened.push_back(s);
        return s;
    }
    int send_to(SOCKET from, SOCKET to, const std::string& data)
    {
        const sockaddr_ipx a = ipx_name(to);
        return sendto(from, data.data(), static_cast<int>(data.size()), 0, reinterpret_cast<const sockaddr*>(&a),
                      sizeof a);
    }
    u_long pending(SOCKET s)
    {
        u_long n = 0;
        return ioctlsocket(s, FIONREAD, &n) == 0 ? n : ~0u;
    }
    std::vector<SOCKET> opened;
};

TEST_F(IpxSocket, BindGivesTheStationsAddressAndRefusesTakenNumbers)
{
    const SOCKET a = open(0x5000);
    ASSERT_NE(a, INVALID_SOCKET) << WSAGetLastError();
    const sockaddr_ipx name = ipx_name(a);
    EXPECT_EQ(name.sa_family, AF_IPX);
    EXPECT_EQ(ntohs(name.sa_socket), 0x5000);
    EXPECT_EQ(ipx_text(name).substr(0, 17), "0000000A:7F000001") << ipx_text(name);
    EXPECT_NE(ipx_text(name).substr(17, 4), "0000") << "the node ends in the station's UDP port";

    EXPECT_EQ(ipx_socket(0x5000), INVALID_SOCKET);
    EXPECT_EQ(WSAGetLastError(), WSAEADDRINUSE);

    const SOCKET d1 = open(0), d2 = open(0);
    const u_short n1 = ntohs(ipx_name(d1).sa_socket), n2 = ntohs(ipx_name(d2).sa_socket);
    EXPECT_GE(n1, 0x4000);
    EXPECT_LE(n1, 0x7FFF);
    EXPECT_NE(n1, n2);
    EXPECT_EQ(memcmp(ipx_name(d1).sa_nodenum, name.sa_nodenum, 6), 0) << "one station per process";

    closesocket(a);
    opened.erase(opened.begin());
    EXPECT_NE(open(0x5000), INVALID_SOCKET) << "a closed socket's number is free again";
}

TEST_F(IpxSocket, AddressMistakes)
{
    const SOCKET bound = open(0);
    const SOCKET fresh = socket(AF_IPX, SOCK_DGRAM, NSPROTO_IPX);
    opened.push_back(fresh);
    sockaddr_ipx a{};
    a.sa_family = AF_IPX;
    sockaddr_ipx foreign = a;
    foreign.sa_netnum[3] = 0x0B;
    sockaddr_ipx out;
    int outlen = sizeof out;
    char buf[8];
    struct Row {
        const char* what;
        std::function<int()> call;
        int error;
    };
    const Row rows[] = {
        {"bind twice", [&] { return bind(bound, reinterpret_cast<sockaddr*>(&a), sizeof a); }, WSAEINVAL},
        {"bind short", [&] { return bind(fresh, reinterpret_cast<sockaddr*>(&a), 13); }, WSAEFAULT},
        {"bind other network", [&] { return bind(fresh, reinterpret_cast<sockaddr*>(&foreign), sizeof foreign); }, WSAEADDRNOTAVAIL},
        {"getsockname unbound", [&] { return getsockname(fresh, reinterpret_cast<sockaddr*>(&out), &outlen); }, WSAEINVAL},
        {"recv unbound", [&] { return recv(fresh, buf, 1, 0); }, WSAEINVAL},
        {"getpeername", [&] { return getpeername(bound, reinterpret_cast<sockaddr*>(&out), &outlen); }, WSAENOTCONN},
        {"send without address", [&] { return send(bound, buf, 1, 0); }, WSAENOTCONN},
        {"listen", [&] { return listen(bound, 1); }, WSAEOPNOTSUPP},
    };
    for (const Row& r : rows) {
        WSASetLastError(0xdead);
        EXPECT_EQ(r.call(), SOCKET_ERROR) << "row " << r.what;
        EXPECT_EQ(WSAGetLastError(), r.error) << "row " << r.what;
    }
    // A 16-byte sockaddr is fine: only 14 bytes are read.
    EXPECT_EQ(bind(fresh, reinterpret_cast<sockaddr*>(&a), 16), 0);
}

TEST_F(IpxSocket, DatagramsBetweenSocketsOfTheStation)
{
    const SOCKET a = open(0x5001), b = open(0x5002);
    ASSERT_EQ(send_to(a, b, "hello"), 5);
    char buf[64];
    sockaddr_ipx from;
    int fromlen = sizeof from;
    ASSERT_EQ(recvfrom(b, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &fromlen), 5);
    EXPECT_EQ(std::string(buf, 5), "hello");
    EXPECT_EQ(fromlen, 14);
    EXPECT_EQ(ipx_text(from), ipx_text(ipx_name(a)));
}

TEST_F(IpxSocket, FionreadCountsEveryQueuedDatagram)
{
    const SOCKET a = open(), b = open();
    for (int size : {10, 20, 30})
        ASSERT_EQ(send_to(a, b, std::string(static_cast<size_t>(size), 'x')), size);
    ASSERT_TRUE(wait_until([&] { return pending(b) == 60; })) << pending(b);
    char buf[64];
    const int expect_rest[] = {50, 30, 0};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(recv(b, buf, sizeof buf, 0), 10 * (i + 1)) << "datagram " << i;
        EXPECT_EQ(pending(b), static_cast<u_long>(expect_rest[i])) << "after datagram " << i;
    }
}

TEST_F(IpxSocket, ALongDatagramIsCutAndGone)
{
    const SOCKET a = open(), b = open();
    std::string data;
    for (int i = 0; i < 100; ++i)
        data += static_cast<char>('a' + i % 26);
    ASSERT_EQ(send_to(a, b, data), 100);
    ASSERT_TRUE(wait_for(b, Set::read));
    char buf[41];
    memset(buf, 0xbd, sizeof buf);
    EXPECT_EQ(recv(b, buf, 40, MSG_PEEK), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAEMSGSIZE);
    EXPECT_EQ(pending(b), 100u) << "a peek leaves the datagram";
    sockaddr_ipx from{};
    int fromlen = sizeof from;
    EXPECT_EQ(recvfrom(b, buf, 40, 0, reinterpret_cast<sockaddr*>(&from), &fromlen), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAEMSGSIZE);
    EXPECT_EQ(std::string(buf, 40), data.substr(0, 40));
    EXPECT_EQ(static_cast<unsigned char>(buf[40]), 0xbd) << "wrote past the buffer";
    EXPECT_EQ(ipx_text(from), ipx_text(ipx_name(a))) << "a cut datagram still names its sender";
    EXPECT_EQ(pending(b), 0u) << "the rest of a cut datagram is dropped";
}

TEST_F(IpxSocket, SendingRules)
{
    const SOCKET a = open(), b = open();
    const sockaddr_ipx bcast = ipx_broadcast(0x5555);
    sockaddr_ipx other_net = ipx_name(b);
    other_net.sa_netnum[3] = 0x0B;
    sockaddr_ipx net_zero = ipx_name(b);
    memset(net_zero.sa_netnum, 0, 4);
    const std::string max(546, 'm'), over(547, 'o');
    struct Row {
        const char* what;
        const sockaddr_ipx* to;
        const std::string* data;
        int result; // bytes, or the WSA error
    };
    const std::string small = "hi";
    const Row rows[] = {
        {"broadcast without SO_BROADCAST", &bcast, &small, WSAEACCES},
        {"another network", &other_net, &small, WSAENETUNREACH},
        {"network 0 is ours", &net_zero, &small, 2},
        {"546 bytes", &net_zero, &max, 546},
        {"547 bytes", &net_zero, &over, WSAEMSGSIZE},
    };
    for (const Row& r : rows) {
        const int n = sendto(a, r.data->data(), static_cast<int>(r.data->size()), 0,
                             reinterpret_cast<const sockaddr*>(r.to), sizeof *r.to);
        if (r.result < 1000) {
            EXPECT_EQ(n, r.result) << "row " << r.what << " error " << WSAGetLastError();
        } else {
            EXPECT_EQ(n, SOCKET_ERROR) << "row " << r.what;
            EXPECT_EQ(WSAGetLastError(), r.result) << "row " << r.what;
        }
    }
    const BOOL on = TRUE;
    ASSERT_EQ(setsockopt(a, SOL_SOCKET, SO_BROADCAST, reinterpret_cast<const char*>(&on), sizeof on), 0);
    EXPECT_EQ(sendto(a, "hi", 2, 0, reinterpret_cast<const sockaddr*>(&bcast), sizeof bcast), 2);
    int v = 0, len = sizeof v;
    ASSERT_EQ(getsockopt(a, NSPROTO_IPX, IPX_MAXSIZE, reinterpret_cast<char*>(&v), &len), 0);
    EXPECT_EQ(v, 546);
}

TEST_F(IpxSocket, PacketTypeOption)
{
    const SOCKET a = open();
    int v = -1, len = sizeof v;
    ASSERT_EQ(getsockopt(a, NSPROTO_IPX, IPX_PTYPE, reinterpret_cast<char*>(&v), &len), 0);
    EXPECT_EQ(v, 0);
    int four = 4;
    ASSERT_EQ(setsockopt(a, NSPROTO_IPX, IPX_PTYPE, reinterpret_cast<const char*>(&four), sizeof four), 0);
    ASSERT_EQ(getsockopt(a, NSPROTO_IPX, IPX_PTYPE, reinterpret_cast<char*>(&v), &len), 0);
    EXPECT_EQ(v, 4);
    int bad = 256;
    EXPECT_EQ(setsockopt(a, NSPROTO_IPX, IPX_PTYPE, reinterpret_cast<const char*>(&bad), sizeof bad), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAEINVAL);

    const SOCKET typed = socket(AF_IPX, SOCK_DGRAM, NSPROTO_IPX + 17);
    opened.push_back(typed);
    ASSERT_EQ(getsockopt(typed, NSPROTO_IPX, IPX_PTYPE, reinterpret_cast<char*>(&v), &len), 0);
    EXPECT_EQ(v, 17);
}

TEST_F(IpxSocket, BlockingAndNonBlockingReceive)
{
    const SOCKET a = open(), b = open();
    u_long on = 1;
    ASSERT_EQ(ioctlsocket(b, FIONBIO, &on), 0);
    char buf[16];
    EXPECT_EQ(recv(b, buf, sizeof buf, 0), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAEWOULDBLOCK);
    on = 0;
    ASSERT_EQ(ioctlsocket(b, FIONBIO, &on), 0);

    int got = 0;
    std::thread reader([&] { got = recv(b, buf, sizeof buf, 0); });
    ASSERT_EQ(send_to(a, b, "wake"), 4);
    reader.join();
    EXPECT_EQ(got, 4);

    // A reader blocked on an empty queue is woken by closesocket.
    int rc = 0, err = 0;
    std::thread blocked([&] {
        rc = recv(b, buf, sizeof buf, 0);
        err = WSAGetLastError();
    });
    ASSERT_EQ(closesocket(b), 0);
    blocked.join();
    opened.erase(std::find(opened.begin(), opened.end(), b));
    EXPECT_EQ(rc, SOCKET_ERROR);
    EXPECT_TRUE(err == WSAEINTR || err == WSAENOTSOCK) << err;
}

TEST_F(IpxSocket, AFullQueueDropsTheNewest)
{
    const SOCKET a = open(), b = open();
    const int limit = 1000;
    ASSERT_EQ(setsockopt(b, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&limit), sizeof limit), 0);
    auto station = ipx::Station::acquire();
    ASSERT_TRUE(station);
    const uint64_t before = (*station)->counters().delivered;
    for (int i = 0; i < 5; ++i)
        ASSERT_EQ(send_to(a, b, std::string(300, static_cast<char>('0' + i))), 300);
    ASSERT_TRUE(wait_until([&] { return (*station)->counters().delivered >= before + 5; }));
    EXPECT_EQ(pending(b), 900u);
    u_long on = 1;
    ioctlsocket(b, FIONBIO, &on);
    char buf[400];
    for (char expect : {'0', '1', '2'}) {
        ASSERT_EQ(recv(b, buf, sizeof buf, 0), 300);
        EXPECT_EQ(buf[0], expect) << "the oldest datagrams are kept, in order";
    }
    EXPECT_EQ(recv(b, buf, sizeof buf, 0), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAEWOULDBLOCK);
}

TEST_F(IpxSocket, ConnectSetsTheDefaultPeerAndFiltersOthers)
{
    const SOCKET a = open(), b = open(), c = open();
    const sockaddr_ipx to_b = ipx_name(b);
    ASSERT_EQ(connect(a, reinterpret_cast<const sockaddr*>(&to_b), sizeof to_b), 0);
    ASSERT_EQ(send(a, "to b", 4, 0), 4);
    char buf[16];
    EXPECT_EQ(recv(b, buf, sizeof buf, 0), 4);
    // c's datagram goes first on the same path, so it is dropped (not
    // delayed) once b's has arrived.
    ASSERT_EQ(send_to(c, a, "stranger"), 8);
    ASSERT_EQ(send_to(b, a, "peer"), 4);
    EXPECT_EQ(recv(a, buf, sizeof buf, 0), 4);
    EXPECT_EQ(std::string(buf, 4), "peer");
    EXPECT_EQ(pending(a), 0u);
}

LRESULT CALLBACK plain_proc(HWND h, UINT m, WPARAM w, LPARAM l)
{
    return DefWindowProcA(h, m, w, l);
}

TEST_F(IpxSocket, AsyncSelectPostsWriteAndRead)
{
    constexpr UINT kMsg = WM_USER + 9;
    WNDCLASSA wc{};
    wc.lpfnWndProc = plain_proc;
    wc.lpszClassName = "ipx_async_test";
    RegisterClassA(&wc);
    HWND hwnd = CreateWindowA("ipx_async_test", "", 0, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(hwnd, nullptr);
    ASSERT_NE(SetTimer(hwnd, 1, 10000, nullptr), 0u); // the bound on every wait
    auto next = [&](int* event) {
        MSG m;
        while (GetMessageA(&m, nullptr, 0, 0) > 0) {
            if (m.message == WM_TIMER)
                return SOCKET(INVALID_SOCKET);
            if (m.message == kMsg) {
                *event = WSAGETSELECTEVENT(m.lParam);
                return SOCKET(m.wParam);
            }
            DispatchMessageA(&m);
        }
        return SOCKET(INVALID_SOCKET);
    };
    const SOCKET a = open(), b = open();
    ASSERT_EQ(WSAAsyncSelect(b, hwnd, kMsg, FD_READ | FD_WRITE), 0);
    int event = 0;
    EXPECT_EQ(next(&event), b);
    EXPECT_EQ(event, FD_WRITE) << "a datagram socket can send at once";
    ASSERT_EQ(send_to(a, b, "note"), 4);
    EXPECT_EQ(next(&event), b);
    EXPECT_EQ(event, FD_READ);
    char buf[8];
    EXPECT_EQ(recv(b, buf, sizeof buf, 0), 4);
    ASSERT_EQ(WSAAsyncSelect(b, hwnd, 0, 0), 0);
    KillTimer(hwnd, 1);
    DestroyWindow(hwnd);
}

TEST_F(IpxSocket, KindsWithoutAnImplementationAreRefusedCleanly)
{
    struct Row {
        int type, protocol, error;
        const char* what;
    };
    const Row rows[] = {
        {SOCK_STREAM, NSPROTO_SPXII, WSAEPROTONOSUPPORT, "SPX II stream"},
        {SOCK_SEQPACKET, NSPROTO_SPX, WSAEPROTONOSUPPORT, "SPX packets"},
        {SOCK_SEQPACKET, NSPROTO_SPXII, WSAEPROTONOSUPPORT, "SPX II packets"},
        {SOCK_DGRAM, 0, WSAEPROTONOSUPPORT, "datagram, protocol 0"},
        {SOCK_RAW, NSPROTO_IPX, WSAESOCKTNOSUPPORT, "raw"},
    };
    for (const Row& r : rows) {
        EXPECT_EQ(socket(AF_IPX, r.type, r.protocol), INVALID_SOCKET) << "row " << r.what;
        EXPECT_EQ(WSAGetLastError(), r.error) << "row " << r.what;
    }
}

TEST_F(IpxSocket, SelectCoversTcpAndIpxTogether)
{
    u_short port;
    const SOCKET listener = listen_loopback(&port);
    const SOCKET client = connect_loopback(port);
    const SOCKET server = accept(listener, nullptr, nullptr);
    const SOCKET a = open(), b = open();
    ASSERT_NE(server, INVALID_SOCKET);
    EXPECT_NE(a, server) << "TCP and IPX sockets share one set of values";

    auto readable = [&](const timeval* tv) {
        fd_set rd;
        FD_ZERO(&rd);
        FD_SET(server, &rd);
        FD_SET(b, &rd);
        const int n = select(0, &rd, nullptr, nullptr, tv);
        std::string which = std::to_string(n) + ":";
        if (FD_ISSET(server, &rd))
            which += "tcp";
        if (FD_ISSET(b, &rd))
            which += "ipx";
        return which;
    };
    const timeval zero{0, 0};
    EXPECT_EQ(readable(&zero), "0:");

    ASSERT_EQ(send_to(a, b, "d"), 1);
    EXPECT_EQ(readable(nullptr), "1:ipx");
    ASSERT_EQ(send(client, "t", 1, 0), 1);
    ASSERT_TRUE(wait_for(server, Set::read));
    EXPECT_EQ(readable(nullptr), "2:tcpipx");
    char c;
    recv(b, &c, 1, 0);
    EXPECT_EQ(readable(nullptr), "1:tcp");

    // A datagram socket can always send.
    fd_set wr;
    FD_ZERO(&wr);
    FD_SET(b, &wr);
    EXPECT_EQ(select(0, nullptr, &wr, nullptr, &zero), 1);
    closesocket(server);
    closesocket(client);
    closesocket(listener);
}

} // namespace
