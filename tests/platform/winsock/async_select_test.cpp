// WSAAsyncSelect: cancelling, and the messages a selection posts.
#include "ws_test_util.h"

namespace {

using namespace kolm::test;

constexpr UINT kSocketMsg = WM_USER + 77;
constexpr UINT_PTR kWatchdog = 1;

LRESULT CALLBACK plain_proc(HWND h, UINT m, WPARAM w, LPARAM l)
{
    return DefWindowProcA(h, m, w, l);
}

class AsyncSelect : public WinsockTest {
protected:
    void SetUp() override
    {
        WinsockTest::SetUp();
        WNDCLASSA wc{};
        wc.lpfnWndProc = plain_proc;
        wc.lpszClassName = "winsock_async_test";
        RegisterClassA(&wc);
        hwnd = CreateWindowA("winsock_async_test", "", 0, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
        ASSERT_NE(hwnd, nullptr);
        // The bound on every wait: no socket message within 10 s is a failure.
        ASSERT_NE(SetTimer(hwnd, kWatchdog, 10000, nullptr), 0u);
    }
    void TearDown() override
    {
        KillTimer(hwnd, kWatchdog);
        DestroyWindow(hwnd);
        WinsockTest::TearDown();
    }
    // The next socket message; false when the watchdog fired first.
    bool next_event(SOCKET* s, int* event, int* error)
    {
        MSG m;
        while (GetMessageA(&m, nullptr, 0, 0) > 0) {
            if (m.message == WM_TIMER && m.wParam == kWatchdog)
                return false;
            if (m.message == kSocketMsg && m.hwnd == hwnd) {
                *s = static_cast<SOCKET>(m.wParam);
                *event = WSAGETSELECTEVENT(m.lParam);
                *error = WSAGETSELECTERROR(m.lParam);
                return true;
            }
            DispatchMessageA(&m);
        }
        return false;
    }
    HWND hwnd = nullptr;
};

TEST_F(AsyncSelect, AnEmptyMaskCancelsAndAllowsBlockingAgain)
{
    SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_EQ(WSAAsyncSelect(s, hwnd, kSocketMsg, FD_READ | FD_CLOSE), 0);
    u_long blocking = 0;
    EXPECT_EQ(ioctlsocket(s, FIONBIO, &blocking), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAEINVAL);
    ASSERT_EQ(WSAAsyncSelect(s, hwnd, 0, 0), 0);
    EXPECT_EQ(ioctlsocket(s, FIONBIO, &blocking), 0);
    EXPECT_EQ(WSAAsyncSelect(s, hwnd, kSocketMsg, 0x4000), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAEINVAL);
    closesocket(s);
}

TEST_F(AsyncSelect, AcceptReadAndClosePostTheirMessages)
{
    u_short port;
    SOCKET listener = listen_loopback(&port);
    ASSERT_EQ(WSAAsyncSelect(listener, hwnd, kSocketMsg, FD_ACCEPT), 0);
    SOCKET client = connect_loopback(port);
    ASSERT_NE(client, INVALID_SOCKET);

    SOCKET s;
    int event, error;
    ASSERT_TRUE(next_event(&s, &event, &error));
    EXPECT_EQ(s, listener);
    EXPECT_EQ(event, FD_ACCEPT);
    SOCKET server = accept(listener, nullptr, nullptr);
    ASSERT_NE(server, INVALID_SOCKET);

    ASSERT_EQ(WSAAsyncSelect(server, hwnd, kSocketMsg, FD_READ | FD_CLOSE), 0);
    ASSERT_EQ(send(client, "ab", 2, 0), 2);
    ASSERT_TRUE(next_event(&s, &event, &error));
    EXPECT_EQ(s, server);
    EXPECT_EQ(event, FD_READ);
    // One byte read, one left: the recv re-arms FD_READ, which comes again.
    char c;
    ASSERT_EQ(recv(server, &c, 1, 0), 1);
    ASSERT_TRUE(next_event(&s, &event, &error));
    EXPECT_EQ(event, FD_READ);
    ASSERT_EQ(recv(server, &c, 1, 0), 1);

    closesocket(client);
    ASSERT_TRUE(next_event(&s, &event, &error));
    EXPECT_EQ(s, server);
    EXPECT_EQ(event, FD_CLOSE);
    EXPECT_EQ(error, 0);
    closesocket(server);
    closesocket(listener);
}

// Bytes a small receive read ahead before FD_READ was asked for are told of
// at once, though the kernel holds nothing more.
TEST_F(AsyncSelect, BytesReadAheadBeforeTheSelectionPostFdRead)
{
    u_short port;
    SOCKET listener = listen_loopback(&port);
    SOCKET client = connect_loopback(port);
    ASSERT_NE(client, INVALID_SOCKET);
    SOCKET server = accept(listener, nullptr, nullptr);
    ASSERT_NE(server, INVALID_SOCKET);
    ASSERT_EQ(send(client, "abcdef", 6, 0), 6);
    ASSERT_TRUE(wait_for(server, Set::read));
    char buf[8];
    ASSERT_EQ(recv(server, buf, 1, 0), 1);
    ASSERT_EQ(WSAAsyncSelect(server, hwnd, kSocketMsg, FD_READ), 0);
    SOCKET s;
    int event, error;
    ASSERT_TRUE(next_event(&s, &event, &error));
    EXPECT_EQ(s, server);
    EXPECT_EQ(event, FD_READ);
    ASSERT_EQ(WSAAsyncSelect(server, hwnd, 0, 0), 0);
    u_long blocking = 0;
    ASSERT_EQ(ioctlsocket(server, FIONBIO, &blocking), 0);
    EXPECT_EQ(recv_exactly(server, 5), "bcdef");
    closesocket(server);
    closesocket(client);
    closesocket(listener);
}

TEST_F(AsyncSelect, ConnectPostsItsOutcome)
{
    u_short port;
    SOCKET listener = listen_loopback(&port);
    SOCKET refused_port = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in bound = loopback(0);
    int len = sizeof bound;
    bind(refused_port, reinterpret_cast<sockaddr*>(&bound), sizeof bound);
    getsockname(refused_port, reinterpret_cast<sockaddr*>(&bound), &len);

    struct Row {
        const char* what;
        sockaddr_in to;
        int error;
    };
    const Row rows[] = {{"listening", loopback(port), 0}, {"refused", bound, WSAECONNREFUSED}};
    for (const Row& r : rows) {
        SOCKET c = socket(AF_INET, SOCK_STREAM, 0);
        ASSERT_EQ(WSAAsyncSelect(c, hwnd, kSocketMsg, FD_CONNECT), 0) << "row " << r.what;
        EXPECT_EQ(connect(c, reinterpret_cast<const sockaddr*>(&r.to), sizeof r.to), SOCKET_ERROR) << "row " << r.what;
        EXPECT_EQ(WSAGetLastError(), WSAEWOULDBLOCK) << "row " << r.what;
        SOCKET s;
        int event, error;
        ASSERT_TRUE(next_event(&s, &event, &error)) << "row " << r.what;
        EXPECT_EQ(s, c) << "row " << r.what;
        EXPECT_EQ(event, FD_CONNECT) << "row " << r.what;
        EXPECT_EQ(error, r.error) << "row " << r.what;
        closesocket(c);
    }
    closesocket(refused_port);
    closesocket(listener);
}

} // namespace
