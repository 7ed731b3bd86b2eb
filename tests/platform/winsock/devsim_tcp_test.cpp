// devsim's TCP channels, met through the Winsock surface; and a client
// written as the programs write theirs.
#include <string>

#include "devsim_process.h"
#include "program_style.h"
#include "ws_test_util.h"

namespace {

using namespace kolm::test;

class DevsimTcp : public WinsockTest {};

std::string read_to_end(SOCKET s)
{
    std::string out;
    char buf[256];
    for (;;) {
        if (!wait_for(s, Set::read))
            return out + "<no end>";
        const int n = recv(s, buf, sizeof buf, 0);
        if (n <= 0)
            return n == 0 ? out : out + "<error " + std::to_string(WSAGetLastError()) + ">";
        out.append(buf, static_cast<size_t>(n));
    }
}

TEST_F(DevsimTcp, EveryChannelModeBehaves)
{
    DevsimProcess d({"--tcp", "0,echo", "--tcp", "0,discard", "--tcp", "0,refuse", "--tcp", "0,close:5"});
    ASSERT_TRUE(d.ready()) << d.error();

    SOCKET echo = connect_loopback(d.tcp_port(0));
    ASSERT_NE(echo, INVALID_SOCKET);
    ASSERT_EQ(send(echo, "hello, device", 13, 0), 13);
    EXPECT_EQ(recv_exactly(echo, 13), "hello, device");
    closesocket(echo);

    // Nothing comes back from a discarding channel, up to its close.
    SOCKET discard = connect_loopback(d.tcp_port(1));
    ASSERT_NE(discard, INVALID_SOCKET);
    ASSERT_EQ(send(discard, "abc", 3, 0), 3);
    ASSERT_EQ(shutdown(discard, SD_SEND), 0);
    EXPECT_EQ(read_to_end(discard), "");
    closesocket(discard);

    SOCKET refused = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in to = loopback(d.tcp_port(2));
    EXPECT_EQ(connect(refused, reinterpret_cast<sockaddr*>(&to), sizeof to), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAECONNREFUSED);
    closesocket(refused);

    SOCKET closing = connect_loopback(d.tcp_port(3));
    ASSERT_NE(closing, INVALID_SOCKET);
    ASSERT_EQ(send(closing, "0123456789", 10, 0), 10);
    EXPECT_EQ(read_to_end(closing), "01234");
    closesocket(closing);

    EXPECT_TRUE(d.stop()) << "devsim did not end cleanly on SIGTERM";
}

TEST_F(DevsimTcp, AProgramStyleClientGetsItsEcho)
{
    DevsimProcess d({"--tcp", "0"});
    ASSERT_TRUE(d.ready()) << d.error();
    char reply[64];
    EXPECT_EQ(program_style_echo(d.tcp_port(0), "through win32.h", reply, sizeof reply), 0);
    EXPECT_STREQ(reply, "through win32.h");
}

} // namespace
