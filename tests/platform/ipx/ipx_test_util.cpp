#include "ipx_test_util.h"

#include <cstdio>
#include <cstdlib>

#include "raw_station.h"

namespace kolm::test {

namespace {

class PrivateSegment : public ::testing::Environment {
public:
    void SetUp() override
    {
        setenv("KOLM_IPX_IF", "127.0.0.1", 1);
        setenv("KOLM_IPX_GROUP", private_group().c_str(), 1);
        setenv("KOLM_IPX_NET", "0000000A", 1);
    }
};

[[maybe_unused]] ::testing::Environment* const g_segment = ::testing::AddGlobalTestEnvironment(new PrivateSegment);

} // namespace

SOCKET ipx_socket(u_short socket_number)
{
    SOCKET s = socket(AF_IPX, SOCK_DGRAM, NSPROTO_IPX);
    if (s == INVALID_SOCKET)
        return s;
    sockaddr_ipx a{};
    a.sa_family = AF_IPX;
    a.sa_socket = htons(socket_number);
    if (bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        closesocket(s);
        return INVALID_SOCKET;
    }
    return s;
}

sockaddr_ipx ipx_name(SOCKET s)
{
    sockaddr_ipx a{};
    int len = sizeof a;
    getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
    return a;
}

sockaddr_ipx ipx_address(const char node[6], u_short socket_number)
{
    sockaddr_ipx a{};
    a.sa_family = AF_IPX;
    const u_long net = htonl(kTestNetwork);
    memcpy(a.sa_netnum, &net, 4);
    memcpy(a.sa_nodenum, node, 6);
    a.sa_socket = htons(socket_number);
    return a;
}

sockaddr_ipx ipx_broadcast(u_short socket_number)
{
    const char all[6] = {'\xff', '\xff', '\xff', '\xff', '\xff', '\xff'};
    sockaddr_ipx a = ipx_address(all, socket_number);
    memset(a.sa_netnum, 0, 4);
    return a;
}

std::string ipx_text(const sockaddr_ipx& a)
{
    char buf[32];
    const auto* n = reinterpret_cast<const unsigned char*>(a.sa_netnum);
    const auto* d = reinterpret_cast<const unsigned char*>(a.sa_nodenum);
    snprintf(buf, sizeof buf, "%02X%02X%02X%02X:%02X%02X%02X%02X%02X%02X:%04X", n[0], n[1], n[2], n[3], d[0], d[1],
             d[2], d[3], d[4], d[5], ntohs(a.sa_socket));
    return buf;
}

} // namespace kolm::test
