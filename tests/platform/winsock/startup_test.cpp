// WSAStartup / WSACleanup: versions, counting, and calls made too early.
#include <thread>

#include <gtest/gtest.h>

#include "test_support.h"
#include "win32.h"

namespace {

using kolm::test::RootedTest;

class Startup : public RootedTest {};

TEST_F(Startup, VersionCheck)
{
    struct Row {
        WORD requested;
        int result;
        const char* name;
    };
    const Row rows[] = {
        {MAKEWORD(0, 0), WSAVERNOTSUPPORTED, "0.0"},
        {MAKEWORD(1, 0), WSAVERNOTSUPPORTED, "1.0"},
        {MAKEWORD(0, 9), WSAVERNOTSUPPORTED, "0.9"},
        {MAKEWORD(1, 1), 0, "1.1"},
        {MAKEWORD(1, 2), 0, "1.2"},
        {MAKEWORD(2, 0), 0, "2.0"},
        {MAKEWORD(2, 2), 0, "2.2"},
    };
    for (const Row& r : rows) {
        WSADATA d;
        memset(&d, 0xbd, sizeof d);
        EXPECT_EQ(WSAStartup(r.requested, &d), r.result) << "row " << r.name;
        // Whatever was asked, the answer describes 1.1.
        EXPECT_EQ(d.wVersion, MAKEWORD(1, 1)) << "row " << r.name;
        EXPECT_EQ(d.wHighVersion, MAKEWORD(1, 1)) << "row " << r.name;
        EXPECT_LT(strlen(d.szDescription), sizeof d.szDescription) << "row " << r.name;
        EXPECT_STREQ(d.szSystemStatus, "Running") << "row " << r.name;
        if (r.result == 0) {
            EXPECT_EQ(WSACleanup(), 0) << "row " << r.name;
        }
    }
    // The refused versions were not counted.
    EXPECT_EQ(WSACleanup(), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSANOTINITIALISED);
    EXPECT_EQ(WSAStartup(MAKEWORD(1, 1), nullptr), WSAEFAULT);
}

TEST_F(Startup, CallsBeforeStartupFail)
{
    WSASetLastError(0);
    EXPECT_EQ(socket(AF_INET, SOCK_STREAM, 0), INVALID_SOCKET);
    EXPECT_EQ(WSAGetLastError(), WSANOTINITIALISED);

    WSASetLastError(0);
    EXPECT_EQ(gethostbyname("localhost"), nullptr);
    EXPECT_EQ(WSAGetLastError(), WSANOTINITIALISED);

    fd_set rd;
    FD_ZERO(&rd);
    FD_SET(4, &rd);
    timeval tv{0, 0};
    WSASetLastError(0);
    EXPECT_EQ(select(0, &rd, nullptr, nullptr, &tv), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSANOTINITIALISED);
}

TEST_F(Startup, CleanupIsCountedAndTheLastOneClosesEverySocket)
{
    WSADATA d;
    ASSERT_EQ(WSAStartup(MAKEWORD(1, 1), &d), 0);
    ASSERT_EQ(WSAStartup(MAKEWORD(1, 1), &d), 0);
    const SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_NE(s, INVALID_SOCKET);

    ASSERT_EQ(WSACleanup(), 0);
    // One start-up is still in force: the socket lives on.
    u_long n = 7;
    EXPECT_EQ(ioctlsocket(s, FIONBIO, &n), 0);

    ASSERT_EQ(WSACleanup(), 0);
    EXPECT_EQ(socket(AF_INET, SOCK_STREAM, 0), INVALID_SOCKET);
    EXPECT_EQ(WSAGetLastError(), WSANOTINITIALISED);

    ASSERT_EQ(WSAStartup(MAKEWORD(1, 1), &d), 0);
    EXPECT_EQ(closesocket(s), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAENOTSOCK) << "the last cleanup must have closed the socket";
    ASSERT_EQ(WSACleanup(), 0);
}

TEST_F(Startup, LastErrorIsPerThread)
{
    WSASetLastError(WSAEINTR);
    int other = -1;
    std::thread t([&] {
        other = WSAGetLastError();
        WSASetLastError(WSAECONNRESET);
    });
    t.join();
    EXPECT_EQ(other, 0);
    EXPECT_EQ(WSAGetLastError(), WSAEINTR);
}

} // namespace
