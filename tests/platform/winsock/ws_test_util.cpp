#include "ws_test_util.h"

namespace kolm::test {

void WinsockTest::SetUp()
{
    WSADATA data;
    ASSERT_EQ(WSAStartup(MAKEWORD(1, 1), &data), 0);
}

void WinsockTest::TearDown()
{
    WSACleanup();
}

sockaddr_in loopback(u_short port)
{
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return a;
}

SOCKET listen_loopback(u_short* port)
{
    SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
    if (s == INVALID_SOCKET)
        return s;
    sockaddr_in a = loopback(0);
    int len = sizeof a;
    if (bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(s, 5) != 0
        || getsockname(s, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
        closesocket(s);
        return INVALID_SOCKET;
    }
    *port = ntohs(a.sin_port);
    return s;
}

SOCKET connect_loopback(u_short port)
{
    SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
    if (s == INVALID_SOCKET)
        return s;
    sockaddr_in a = loopback(port);
    if (connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        closesocket(s);
        return INVALID_SOCKET;
    }
    return s;
}

bool wait_for(SOCKET s, Set set, int seconds)
{
    fd_set fds;
    FD_ZERO(&fds);
    FD_SET(s, &fds);
    timeval tv{seconds, 0};
    const int n = select(0, set == Set::read ? &fds : nullptr, set == Set::write ? &fds : nullptr,
                         set == Set::except ? &fds : nullptr, &tv);
    return n == 1 && FD_ISSET(s, &fds);
}

std::string recv_exactly(SOCKET s, size_t n)
{
    std::string out;
    char buf[4096];
    while (out.size() < n) {
        const int want = static_cast<int>(std::min(sizeof buf, n - out.size()));
        const int got = recv(s, buf, want, 0);
        if (got <= 0)
            break;
        out.append(buf, static_cast<size_t>(got));
    }
    return out;
}

} // namespace kolm::test
