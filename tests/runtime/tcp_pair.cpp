#include "tcp_pair.h"

#include <gtest/gtest.h>

namespace kolm::test {

TcpPair::TcpPair()
{
    WSADATA wd;
    WSAStartup(MAKEWORD(1, 1), &wd);
    SOCKET l = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr;
    memset(&addr, 0, sizeof addr);
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = inet_addr("127.0.0.1");
    addr.sin_port = 0;
    EXPECT_EQ(bind(l, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    EXPECT_EQ(listen(l, 1), 0);
    int len = sizeof addr;
    getsockname(l, reinterpret_cast<sockaddr*>(&addr), &len);
    a = socket(AF_INET, SOCK_STREAM, 0);
    EXPECT_EQ(connect(a, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    b = accept(l, nullptr, nullptr);
    EXPECT_NE(b, INVALID_SOCKET);
    closesocket(l);
}

TcpPair::~TcpPair()
{
    if (a != INVALID_SOCKET)
        closesocket(a);
    if (b != INVALID_SOCKET)
        closesocket(b);
    WSACleanup();
}

void TcpPair::send_b(const std::string& data)
{
    size_t off = 0;
    while (off < data.size()) {
        const int n = send(b, data.data() + off, static_cast<int>(data.size() - off), 0);
        ASSERT_GT(n, 0);
        off += static_cast<size_t>(n);
    }
}

std::string TcpPair::recv_b(size_t n)
{
    std::string out(n, '\0');
    size_t off = 0;
    while (off < n) {
        const int got = recv(b, out.data() + off, static_cast<int>(n - off), 0);
        if (got <= 0)
            break;
        off += static_cast<size_t>(got);
    }
    out.resize(off);
    return out;
}

} // namespace kolm::test
