// TCP sockets over loopback, through the Winsock surface.
#include <atomic>
#include <functional>
#include <vector>
#include <string>
#include <thread>

#include "internal/thread_plug.h"
#include "ws_test_util.h"

namespace {

using namespace kolm::test;

class Tcp : public WinsockTest {
protected:
    // A connected pair: client (connected by us) and server (accepted).
    void connect_pair()
    {
        u_short port;
        listener = listen_loopback(&port);
        ASSERT_NE(listener, INVALID_SOCKET);
        client = connect_loopback(port);
        ASSERT_NE(client, INVALID_SOCKET);
        sockaddr_in peer;
        int len = sizeof peer;
        server = accept(listener, reinterpret_cast<sockaddr*>(&peer), &len);
        ASSERT_NE(server, INVALID_SOCKET);
        EXPECT_EQ(len, static_cast<int>(sizeof peer));
        EXPECT_EQ(peer.sin_addr.s_addr, htonl(INADDR_LOOPBACK));
    }
    void TearDown() override
    {
        for (SOCKET s : {client, server, listener})
            if (s != INVALID_SOCKET)
                closesocket(s);
        WinsockTest::TearDown();
    }
    SOCKET listener = INVALID_SOCKET;
    SOCKET client = INVALID_SOCKET;
    SOCKET server = INVALID_SOCKET;
};

TEST_F(Tcp, BytesArriveInOrderBothWays)
{
    connect_pair();
    sockaddr_in a, b;
    int la = sizeof a, lb = sizeof b;
    ASSERT_EQ(getsockname(client, reinterpret_cast<sockaddr*>(&a), &la), 0);
    ASSERT_EQ(getpeername(server, reinterpret_cast<sockaddr*>(&b), &lb), 0);
    EXPECT_EQ(a.sin_port, b.sin_port);

    // Far more than the socket buffers hold, so the blocking send must wait
    // for the reader.
    std::string payload;
    for (int i = 0; i < 1 << 20; ++i)
        payload += static_cast<char>(i * 7 + i / 251);
    int sent = 0;
    std::thread writer([&] { sent = send(client, payload.data(), static_cast<int>(payload.size()), 0); });
    const std::string got = recv_exactly(server, payload.size());
    writer.join();
    EXPECT_EQ(sent, static_cast<int>(payload.size()));
    EXPECT_TRUE(got == payload) << "received " << got.size() << " bytes, not the same";

    ASSERT_EQ(send(server, "pong", 4, 0), 4);
    EXPECT_EQ(recv_exactly(client, 4), "pong");
}

TEST_F(Tcp, NonBlockingConnectCompletesInTheWriteSet)
{
    u_short port;
    listener = listen_loopback(&port);
    client = socket(AF_INET, SOCK_STREAM, 0);
    u_long on = 1;
    ASSERT_EQ(ioctlsocket(client, FIONBIO, &on), 0);
    const sockaddr_in to = loopback(port);
    ASSERT_EQ(connect(client, reinterpret_cast<const sockaddr*>(&to), sizeof to), SOCKET_ERROR);
    ASSERT_EQ(WSAGetLastError(), WSAEWOULDBLOCK);

    fd_set rd, wr, ex;
    FD_ZERO(&rd);
    FD_ZERO(&wr);
    FD_ZERO(&ex);
    FD_SET(client, &wr);
    FD_SET(client, &ex);
    timeval tv{10, 0};
    EXPECT_EQ(select(0, &rd, &wr, &ex, &tv), 1);
    EXPECT_TRUE(FD_ISSET(client, &wr));
    EXPECT_FALSE(FD_ISSET(client, &ex));
    int err = -1, len = sizeof err;
    EXPECT_EQ(getsockopt(client, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&err), &len), 0);
    EXPECT_EQ(err, 0);
    EXPECT_EQ(connect(client, reinterpret_cast<const sockaddr*>(&to), sizeof to), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAEISCONN);
}

TEST_F(Tcp, RefusedConnectShowsInTheExceptSetWithItsReason)
{
    // Bound but not listening: the kernel refuses every connect.
    SOCKET closed_port = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a = loopback(0);
    int len = sizeof a;
    ASSERT_EQ(bind(closed_port, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    ASSERT_EQ(getsockname(closed_port, reinterpret_cast<sockaddr*>(&a), &len), 0);

    client = socket(AF_INET, SOCK_STREAM, 0);
    u_long on = 1;
    ASSERT_EQ(ioctlsocket(client, FIONBIO, &on), 0);
    ASSERT_EQ(connect(client, reinterpret_cast<const sockaddr*>(&a), sizeof a), SOCKET_ERROR);
    ASSERT_EQ(WSAGetLastError(), WSAEWOULDBLOCK);
    fd_set wr, ex;
    FD_ZERO(&wr);
    FD_ZERO(&ex);
    FD_SET(client, &wr);
    FD_SET(client, &ex);
    timeval tv{10, 0};
    EXPECT_EQ(select(0, nullptr, &wr, &ex, &tv), 1);
    EXPECT_FALSE(FD_ISSET(client, &wr));
    EXPECT_TRUE(FD_ISSET(client, &ex));
    int err = -1;
    len = sizeof err;
    ASSERT_EQ(getsockopt(client, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&err), &len), 0);
    EXPECT_EQ(err, WSAECONNREFUSED);
    ASSERT_EQ(getsockopt(client, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&err), &len), 0);
    EXPECT_EQ(err, 0) << "reading SO_ERROR clears it";

    // A blocking connect reports the same at once.
    SOCKET blocking = socket(AF_INET, SOCK_STREAM, 0);
    EXPECT_EQ(connect(blocking, reinterpret_cast<const sockaddr*>(&a), sizeof a), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAECONNREFUSED);
    closesocket(blocking);
    closesocket(closed_port);
}

TEST_F(Tcp, AConnectThatIsNeverAnsweredEndsInTheSelectTimeOut)
{
    // A listener that never accepts: once its queue is full the kernel drops
    // further SYNs, so a connect stays under way, as with a silent host.
    listener = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a = loopback(0);
    int len = sizeof a;
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    ASSERT_EQ(listen(listener, 1), 0);
    ASSERT_EQ(getsockname(listener, reinterpret_cast<sockaddr*>(&a), &len), 0);
    std::vector<SOCKET> queued;
    u_long on = 1;
    bool pending = false;
    for (int i = 0; i < 8 && !pending; ++i) {
        SOCKET c = socket(AF_INET, SOCK_STREAM, 0);
        queued.push_back(c);
        ASSERT_EQ(ioctlsocket(c, FIONBIO, &on), 0);
        connect(c, reinterpret_cast<sockaddr*>(&a), sizeof a);
        pending = !wait_for(c, Set::write, 1);
    }
    ASSERT_TRUE(pending) << "the listener's queue never filled";

    // The last one is still connecting: select must time out, not report it.
    fd_set wr, ex;
    FD_ZERO(&wr);
    FD_ZERO(&ex);
    FD_SET(queued.back(), &wr);
    FD_SET(queued.back(), &ex);
    timeval tv{0, 300000};
    const DWORD start = GetTickCount();
    EXPECT_EQ(select(0, nullptr, &wr, &ex, &tv), 0);
    EXPECT_GE(GetTickCount() - start, 290u);
    EXPECT_EQ(wr.fd_count + ex.fd_count, 0u);
    for (SOCKET c : queued)
        closesocket(c);
}

TEST_F(Tcp, LingerOnWithTimeZeroResetsThePeer)
{
    connect_pair();
    linger lg;
    lg.l_onoff = 1;
    lg.l_linger = 0;
    ASSERT_EQ(setsockopt(client, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&lg), sizeof lg), 0);
    linger back{9, 9};
    int len = sizeof back;
    ASSERT_EQ(getsockopt(client, SOL_SOCKET, SO_LINGER, reinterpret_cast<char*>(&back), &len), 0);
    EXPECT_EQ(back.l_onoff, 1);
    EXPECT_EQ(back.l_linger, 0);
    ASSERT_EQ(closesocket(client), 0);
    client = INVALID_SOCKET;

    ASSERT_TRUE(wait_for(server, Set::read));
    char c;
    EXPECT_EQ(recv(server, &c, 1, 0), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAECONNRESET);
}

TEST_F(Tcp, OrdinaryCloseEndsThePeersDataWithZero)
{
    connect_pair();
    ASSERT_EQ(send(client, "bye", 3, 0), 3);
    ASSERT_EQ(closesocket(client), 0);
    client = INVALID_SOCKET;
    EXPECT_EQ(recv_exactly(server, 3), "bye");
    char c;
    EXPECT_EQ(recv(server, &c, 1, 0), 0);
}

TEST_F(Tcp, SendToAResetPeerFailsWithoutEndingTheProcess)
{
    connect_pair();
    linger lg{1, 0};
    setsockopt(server, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&lg), sizeof lg);
    closesocket(server);
    server = INVALID_SOCKET;
    ASSERT_TRUE(wait_for(client, Set::read));
    // The kernel would raise SIGPIPE on a write to a reset connection.
    int rc = 0;
    for (int i = 0; i < 100 && rc != SOCKET_ERROR; ++i)
        rc = send(client, "x", 1, 0);
    EXPECT_EQ(rc, SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAECONNRESET);
}

TEST_F(Tcp, FionreadCountsWhatOneRecvCanTake)
{
    connect_pair();
    const std::string data(100, 'q');
    ASSERT_EQ(send(client, data.data(), 100, 0), 100);
    ASSERT_TRUE(wait_for(server, Set::read));
    u_long n = 0;
    ASSERT_EQ(ioctlsocket(server, FIONREAD, &n), 0);
    EXPECT_EQ(n, 100u);
    char buf[40];
    ASSERT_EQ(recv(server, buf, 40, 0), 40);
    ASSERT_EQ(ioctlsocket(server, FIONREAD, &n), 0);
    EXPECT_EQ(n, 60u);
}

// Small receives are served from one kernel read: what was read ahead is
// still readable for select and FIONREAD when the kernel holds nothing,
// a peek does not take it, the stream stays in order, and the peer's close
// comes after the last byte.
TEST_F(Tcp, BytesReadAheadAreStillThereForSelectPeekAndTheCloseComesLast)
{
    connect_pair();
    std::string data;
    for (int i = 0; i < 3000; ++i)
        data += static_cast<char>(i * 7);
    ASSERT_EQ(send(client, data.data(), static_cast<int>(data.size()), 0), static_cast<int>(data.size()));
    ASSERT_TRUE(wait_for(server, Set::read));
    // Until all 3000 are in the kernel, a first read may take fewer.
    std::string got;
    char buf[100];
    int n = recv(server, buf, 10, 0);
    ASSERT_GT(n, 0);
    got.append(buf, static_cast<size_t>(n));
    shutdown(client, SD_SEND);
    while (got.size() < data.size()) {
        ASSERT_TRUE(wait_for(server, Set::read)) << "read-ahead bytes are readable at " << got.size();
        u_long ready = 0;
        ASSERT_EQ(ioctlsocket(server, FIONREAD, &ready), 0);
        ASSERT_GT(ready, 0u) << "at " << got.size();
        char peeked[37];
        const int p = recv(server, peeked, sizeof peeked, MSG_PEEK);
        ASSERT_GT(p, 0);
        n = recv(server, buf, 37, 0);
        ASSERT_GE(n, p);
        EXPECT_EQ(std::string(peeked, static_cast<size_t>(p)), std::string(buf, static_cast<size_t>(p)))
            << "a peek takes nothing";
        got.append(buf, static_cast<size_t>(n));
    }
    EXPECT_TRUE(got == data) << "bytes differ";
    ASSERT_TRUE(wait_for(server, Set::read));
    EXPECT_EQ(recv(server, buf, sizeof buf, 0), 0) << "the close comes after the last byte";

    // A receive of a whole buffer or more goes to the kernel as it is.
    closesocket(server);
    server = INVALID_SOCKET;
    closesocket(client);
    client = INVALID_SOCKET;
    closesocket(listener);
    listener = INVALID_SOCKET;
    connect_pair();
    const std::string big(100000, 'b');
    std::thread sender([&] { send(client, big.data(), static_cast<int>(big.size()), 0); });
    std::string all;
    std::vector<char> large(65536);
    while (all.size() < big.size()) {
        const int r = recv(server, large.data(), static_cast<int>(large.size()), 0);
        ASSERT_GT(r, 0);
        all.append(large.data(), static_cast<size_t>(r));
    }
    sender.join();
    EXPECT_TRUE(all == big);
}

TEST_F(Tcp, SelectWithoutTimeOutWaitsForData)
{
    connect_pair();
    fd_set rd;
    FD_ZERO(&rd);
    FD_SET(server, &rd);
    timeval zero{0, 0};
    EXPECT_EQ(select(0, &rd, nullptr, nullptr, &zero), 0);
    EXPECT_EQ(rd.fd_count, 0u) << "a time-out leaves the sets empty";

    std::atomic<int> result{-2};
    fd_set waiting;
    FD_ZERO(&waiting);
    FD_SET(server, &waiting);
    std::thread t([&] { result = select(0, &waiting, nullptr, nullptr, nullptr); });
    EXPECT_EQ(result.load(), -2) << "select returned before any data was sent";
    ASSERT_EQ(send(client, "!", 1, 0), 1);
    t.join();
    EXPECT_EQ(result.load(), 1);
    EXPECT_TRUE(FD_ISSET(server, &waiting));
}

// Work a thread holds back (the port's gathered input) is done before the
// thread blocks in a receive or a select: here that work is what sends the
// byte waited for, so a wait that slept first would never end.
class SendOnUnplug final : public kolm::platform::sys::Pluggable {
public:
    explicit SendOnUnplug(SOCKET s) : m_s(s) {}
    void unplug() override { sent = send(m_s, "!", 1, 0); }
    int sent = 0;

private:
    SOCKET m_s;
};

TEST_F(Tcp, ABlockingReceiveOrSelectDoesTheThreadsHeldWorkFirst)
{
    connect_pair();
    auto work = std::make_shared<SendOnUnplug>(client);
    kolm::platform::sys::plug(work);
    char c = 0;
    EXPECT_EQ(recv(server, &c, 1, 0), 1);
    EXPECT_EQ(c, '!');

    work = std::make_shared<SendOnUnplug>(client);
    kolm::platform::sys::plug(work);
    fd_set rd;
    FD_ZERO(&rd);
    FD_SET(server, &rd);
    timeval limit{10, 0};
    EXPECT_EQ(select(0, &rd, nullptr, nullptr, &limit), 1);
    EXPECT_EQ(work->sent, 1);
}

TEST_F(Tcp, ClosingASocketWakesAThreadBlockedInRecv)
{
    connect_pair();
    int rc = 0, err = 0;
    std::thread t([&] {
        char c;
        rc = recv(server, &c, 1, 0);
        err = WSAGetLastError();
    });
    ASSERT_EQ(closesocket(server), 0);
    t.join(); // would hang if the close did not reach the blocked call
    server = INVALID_SOCKET;
    EXPECT_EQ(rc, SOCKET_ERROR);
    // WSAENOTSOCK when the close came before the recv began.
    EXPECT_TRUE(err == WSAEINTR || err == WSAENOTSOCK) << err;
    // Once the blocked call has let go, the connection is really closed.
    char c;
    ASSERT_TRUE(wait_for(client, Set::read));
    EXPECT_EQ(recv(client, &c, 1, 0), 0);
}

TEST_F(Tcp, NonBlockingCallsWouldBlock)
{
    connect_pair();
    u_long on = 1;
    ASSERT_EQ(ioctlsocket(server, FIONBIO, &on), 0);
    ASSERT_EQ(ioctlsocket(listener, FIONBIO, &on), 0);
    char c;
    EXPECT_EQ(recv(server, &c, 1, 0), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAEWOULDBLOCK);
    EXPECT_EQ(accept(listener, nullptr, nullptr), INVALID_SOCKET);
    EXPECT_EQ(WSAGetLastError(), WSAEWOULDBLOCK);

    // A waiting connection makes the listener readable.
    SOCKET other = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a;
    int len = sizeof a;
    ASSERT_EQ(getsockname(listener, reinterpret_cast<sockaddr*>(&a), &len), 0);
    ASSERT_EQ(connect(other, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    ASSERT_TRUE(wait_for(listener, Set::read));
    SOCKET accepted = accept(listener, nullptr, nullptr);
    EXPECT_NE(accepted, INVALID_SOCKET);
    // It inherits the listener's non-blocking mode.
    EXPECT_EQ(recv(accepted, &c, 1, 0), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAEWOULDBLOCK);

    // A lingering close cannot happen without blocking.
    linger lg{1, 5};
    ASSERT_EQ(setsockopt(server, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&lg), sizeof lg), 0);
    EXPECT_EQ(closesocket(server), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAEWOULDBLOCK);
    EXPECT_EQ(ioctlsocket(server, FIONREAD, &on), 0) << "the refused close kept the socket";
    closesocket(accepted);
    closesocket(other);
}

TEST_F(Tcp, OptionsReadBackWhatWasSet)
{
    connect_pair();
    struct Row {
        SOCKET* s;
        int level, name, set, expect;
        const char* what;
    };
    const Row rows[] = {
        {&client, SOL_SOCKET, SO_REUSEADDR, 1, 1, "SO_REUSEADDR"},
        {&client, SOL_SOCKET, SO_KEEPALIVE, 1, 1, "SO_KEEPALIVE"},
        {&client, IPPROTO_TCP, TCP_NODELAY, 1, 1, "TCP_NODELAY"},
        {&client, IPPROTO_TCP, TCP_NODELAY, 0, 0, "TCP_NODELAY off"},
        {&client, SOL_SOCKET, SO_RCVBUF, 32768, 32768, "SO_RCVBUF"},
        {&client, SOL_SOCKET, SO_SNDBUF, 65536, 65536, "SO_SNDBUF"},
        {&client, SOL_SOCKET, SO_DONTLINGER, 0, 0, "SO_DONTLINGER off"},
        {&client, SOL_SOCKET, SO_DONTLINGER, 1, 1, "SO_DONTLINGER on"},
    };
    for (const Row& r : rows) {
        ASSERT_EQ(setsockopt(*r.s, r.level, r.name, reinterpret_cast<const char*>(&r.set), sizeof r.set), 0)
            << "row " << r.what << " error " << WSAGetLastError();
        int v = 0xbdbdbd, len = sizeof v;
        ASSERT_EQ(getsockopt(*r.s, r.level, r.name, reinterpret_cast<char*>(&v), &len), 0) << "row " << r.what;
        EXPECT_EQ(v, r.expect) << "row " << r.what;
        EXPECT_EQ(len, static_cast<int>(sizeof v)) << "row " << r.what;
    }
    int v = 0, len = sizeof v;
    ASSERT_EQ(getsockopt(listener, SOL_SOCKET, SO_ACCEPTCONN, reinterpret_cast<char*>(&v), &len), 0);
    EXPECT_EQ(v, 1);
    ASSERT_EQ(getsockopt(client, SOL_SOCKET, SO_TYPE, reinterpret_cast<char*>(&v), &len), 0);
    EXPECT_EQ(v, SOCK_STREAM);
}

TEST_F(Tcp, MisuseFailsWithTheWinsockCode)
{
    connect_pair();
    SOCKET fresh = socket(AF_INET, SOCK_STREAM, 0);
    SOCKET shut = client;
    ASSERT_EQ(shutdown(shut, SD_SEND), 0);
    const SOCKET bogus = 0x7ffffff0;
    char buf[4];
    sockaddr_in a = loopback(0);
    sockaddr_in out;
    int outlen = sizeof out;
    int shortlen = 8;
    u_long arg = 0;
    int opt = 1;
    sockaddr_in listener_addr;
    int llen = sizeof listener_addr;
    getsockname(listener, reinterpret_cast<sockaddr*>(&listener_addr), &llen);
    fd_set empty;
    FD_ZERO(&empty);
    timeval tv{0, 0};

    struct Row {
        const char* what;
        std::function<int()> call;
        int error;
    };
    const Row rows[] = {
        {"recv unconnected", [&] { return recv(fresh, buf, 1, 0); }, WSAENOTCONN},
        {"send unconnected", [&] { return send(fresh, buf, 1, 0); }, WSAENOTCONN},
        {"listen unbound", [&] { return listen(fresh, 1); }, WSAEINVAL},
        {"getsockname unbound", [&] { return getsockname(fresh, reinterpret_cast<sockaddr*>(&out), &outlen); }, WSAEINVAL},
        {"getpeername unconnected", [&] { return getpeername(fresh, reinterpret_cast<sockaddr*>(&out), &outlen); }, WSAENOTCONN},
        {"getsockname short buffer", [&] { return getsockname(client, reinterpret_cast<sockaddr*>(&out), &shortlen); }, WSAEFAULT},
        {"accept short buffer", [&] { return static_cast<int>(accept(listener, reinterpret_cast<sockaddr*>(&out), &shortlen)); }, WSAEFAULT},
        {"bind short name", [&] { return bind(fresh, reinterpret_cast<sockaddr*>(&a), 8); }, WSAEFAULT},
        {"bind port in use", [&] { return bind(fresh, reinterpret_cast<sockaddr*>(&listener_addr), sizeof listener_addr); }, WSAEADDRINUSE},
        {"bind twice", [&] { return bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a); }, WSAEINVAL},
        {"send after shutdown", [&] { return send(shut, buf, 1, 0); }, WSAESHUTDOWN},
        {"unknown socket", [&] { return recv(bogus, buf, 1, 0); }, WSAENOTSOCK},
        {"close unknown socket", [&] { return closesocket(bogus); }, WSAENOTSOCK},
        {"unknown ioctl", [&] { return ioctlsocket(client, 0x12345, &arg); }, WSAEINVAL},
        {"unknown level", [&] { return setsockopt(client, 1234, SO_REUSEADDR, reinterpret_cast<char*>(&opt), sizeof opt); }, WSAEINVAL},
        {"unknown option", [&] { return setsockopt(client, SOL_SOCKET, 0x7777, reinterpret_cast<char*>(&opt), sizeof opt); }, WSAENOPROTOOPT},
        {"read-only option", [&] { return setsockopt(client, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&opt), sizeof opt); }, WSAENOPROTOOPT},
        {"short option", [&] { return setsockopt(client, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<char*>(&opt), 2); }, WSAEFAULT},
        {"select on nothing", [&] { return select(0, &empty, nullptr, nullptr, &tv); }, WSAEINVAL},
        {"unknown flags", [&] { return recv(client, buf, 1, 0x100); }, WSAEOPNOTSUPP},
        {"bad shutdown", [&] { return shutdown(client, 7); }, WSAEINVAL},
    };
    for (const Row& r : rows) {
        WSASetLastError(0xdead);
        EXPECT_EQ(r.call(), SOCKET_ERROR) << "row " << r.what;
        EXPECT_EQ(WSAGetLastError(), r.error) << "row " << r.what;
    }

    struct Made {
        int af, type, protocol, error;
    };
    const Made made[] = {
        {AF_INET, SOCK_DGRAM, 0, WSAESOCKTNOSUPPORT},
        {AF_INET, SOCK_STREAM, IPPROTO_UDP, WSAEPROTONOSUPPORT},
        {99, SOCK_STREAM, 0, WSAEAFNOSUPPORT},
    };
    for (const Made& m : made) {
        EXPECT_EQ(socket(m.af, m.type, m.protocol), INVALID_SOCKET) << "socket(" << m.af << ", " << m.type << ")";
        EXPECT_EQ(WSAGetLastError(), m.error) << "socket(" << m.af << ", " << m.type << ")";
    }
    closesocket(fresh);
}

TEST_F(Tcp, SocketValuesAreDistinctAndNotReusedAtOnce)
{
    std::vector<SOCKET> made;
    for (int i = 0; i < 20; ++i) {
        made.push_back(socket(AF_INET, SOCK_STREAM, 0));
        ASSERT_NE(made.back(), INVALID_SOCKET);
    }
    for (size_t i = 0; i < made.size(); ++i)
        for (size_t j = i + 1; j < made.size(); ++j)
            EXPECT_NE(made[i], made[j]);
    const SOCKET first = made.front();
    closesocket(first);
    const SOCKET next = socket(AF_INET, SOCK_STREAM, 0);
    EXPECT_NE(next, first) << "a value just closed came back at once";
    made.push_back(next);
    for (size_t i = 1; i < made.size(); ++i)
        closesocket(made[i]);
}

} // namespace
