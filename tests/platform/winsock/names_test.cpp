// gethostbyname, inet_addr, inet_ntoa and byte order.
//
// No name query may leave the machine: real look-ups are made only of names
// /etc/hosts knows, and every other answer comes from the resolver hook or
// from the layer's own refusal of names no name service could know.
#include <string>
#include <thread>
#include <vector>

#include "winsock/core/resolver.h"
#include "ws_test_util.h"

namespace {

using namespace kolm::test;
namespace net = kolm::platform::net;

class Names : public WinsockTest {
protected:
    void TearDown() override
    {
        net::set_resolver_hook(nullptr);
        WinsockTest::TearDown();
    }
};

std::string address_text(const hostent* h, int i)
{
    in_addr a;
    memcpy(&a, h->h_addr_list[i], sizeof a);
    return inet_ntoa(a);
}

TEST_F(Names, LocalhostResolvesFromTheHostsFile)
{
    hostent* h = gethostbyname("localhost");
    ASSERT_NE(h, nullptr) << WSAGetLastError();
    EXPECT_EQ(h->h_addrtype, AF_INET);
    EXPECT_EQ(h->h_length, 4);
    ASSERT_NE(h->h_addr_list[0], nullptr);
    EXPECT_EQ(address_text(h, 0), "127.0.0.1");
    EXPECT_EQ(h->h_aliases[0], nullptr);
}

TEST_F(Names, NamesNoServiceCouldKnowAreNotFoundAtOnce)
{
    // Each would be a name-service query if it got that far.
    const std::string long_label(64, 'a');
    const char* rows[] = {"no such host", "bad!name", "", ".", "a..b", "-x_/", long_label.c_str()};
    int calls = 0;
    net::set_resolver_hook([&](const std::string&) {
        ++calls;
        return net::HostLookup{};
    });
    for (const char* name : rows) {
        WSASetLastError(0);
        EXPECT_EQ(gethostbyname(name), nullptr) << "row \"" << name << "\"";
        EXPECT_EQ(WSAGetLastError(), WSAHOST_NOT_FOUND) << "row \"" << name << "\"";
    }
    EXPECT_EQ(calls, 0) << "an impossible name reached the resolver";
}

TEST_F(Names, ResolverAnswersBecomeTheHostEntry)
{
    struct Row {
        const char* name;
        net::HostLookup answer;
        int error;
        std::vector<std::string> addrs;
    };
    const Row rows[] = {
        {"devices", {0, "devices.example", {htonl(0x0A000001), htonl(0x0A000002)}}, 0, {"10.0.0.1", "10.0.0.2"}},
        {"gone", {WSAHOST_NOT_FOUND, "", {}}, WSAHOST_NOT_FOUND, {}},
        {"later", {WSATRY_AGAIN, "", {}}, WSATRY_AGAIN, {}},
        {"v6only", {WSANO_DATA, "", {}}, WSANO_DATA, {}},
    };
    for (const Row& r : rows) {
        std::string asked;
        net::set_resolver_hook([&](const std::string& name) {
            asked = name;
            return r.answer;
        });
        WSASetLastError(0);
        hostent* h = gethostbyname(r.name);
        EXPECT_EQ(asked, r.name) << "row " << r.name;
        if (r.error != 0) {
            EXPECT_EQ(h, nullptr) << "row " << r.name;
            EXPECT_EQ(WSAGetLastError(), r.error) << "row " << r.name;
            continue;
        }
        ASSERT_NE(h, nullptr) << "row " << r.name;
        EXPECT_STREQ(h->h_name, r.answer.name.c_str()) << "row " << r.name;
        size_t i = 0;
        for (; h->h_addr_list[i]; ++i) {
            ASSERT_LT(i, r.addrs.size()) << "row " << r.name;
            EXPECT_EQ(address_text(h, static_cast<int>(i)), r.addrs[i]) << "row " << r.name;
        }
        EXPECT_EQ(i, r.addrs.size()) << "row " << r.name;
    }
}

TEST_F(Names, EachThreadHasItsOwnHostEntry)
{
    net::set_resolver_hook([](const std::string& name) {
        return net::HostLookup{0, name, {htonl(name == "one" ? 0x01010101u : 0x02020202u)}};
    });
    hostent* mine = gethostbyname("one");
    ASSERT_NE(mine, nullptr);
    std::thread t([] { ASSERT_NE(gethostbyname("two"), nullptr); });
    t.join();
    EXPECT_STREQ(mine->h_name, "one");
    EXPECT_EQ(address_text(mine, 0), "1.1.1.1");
}

TEST(InetAddr, DottedForms)
{
    struct Row {
        const char* text;
        u_long host; // host byte order; INADDR_NONE for refused text
    };
    const Row rows[] = {
        {"127.0.0.1", 0x7F000001},
        {"10.1.2.3", 0x0A010203},
        {"0x7f.0.0.1", 0x7F000001},
        {"0177.0.0.01", 0x7F000001},
        {"10.1.515", 0x0A010203},      // a.b.c: c fills 16 bits
        {"10.66051", 0x0A010203},      // a.b: b fills 24 bits
        {"167838211", 0x0A010203},     // a: all 32 bits
        {"255.255.255.255", 0xFFFFFFFF},
        {"0.0.0.0", 0},
        {"256.0.0.1", INADDR_NONE},
        {"1.2.3.4.5", INADDR_NONE},
        {"1.2.3.", INADDR_NONE},
        {"1.2.3.4 ", INADDR_NONE},
        {"1..3.4", INADDR_NONE},
        {"08.1.1.1", INADDR_NONE},
        {"0x", INADDR_NONE},
        {"host.example", INADDR_NONE},
        {"", INADDR_NONE},
        {"10.1.65536", INADDR_NONE},
        {"4294967296", INADDR_NONE},
    };
    for (const Row& r : rows)
        EXPECT_EQ(inet_addr(r.text), r.host == INADDR_NONE ? INADDR_NONE : htonl(r.host)) << "row \"" << r.text << "\"";
    EXPECT_EQ(inet_addr(nullptr), INADDR_NONE);
}

TEST(InetAddr, TextOfAnAddressAndByteOrder)
{
    in_addr a;
    a.s_addr = htonl(0xC0A80A01);
    EXPECT_STREQ(inet_ntoa(a), "192.168.10.1");
    const u_short port = htons(0x1234);
    EXPECT_EQ(reinterpret_cast<const unsigned char*>(&port)[0], 0x12);
    EXPECT_EQ(ntohs(port), 0x1234);
    const u_long v = htonl(0x01020304);
    EXPECT_EQ(reinterpret_cast<const unsigned char*>(&v)[0], 0x01);
    EXPECT_EQ(ntohl(v), 0x01020304u);
}

} // namespace
