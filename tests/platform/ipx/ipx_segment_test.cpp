// Stations in several processes on one segment: the wire format, unicast,
// broadcast, and a SAP query of devsim through the stack.
#include <set>
#include <string>
#include <vector>

#include "devsim_process.h"
#include "ipx/station.h"
#include "ipx_test_util.h"
#include "raw_station.h"

namespace {

using namespace kolm::test;
namespace ipx = kolm::platform::ipx;

class IpxSegment : public WinsockTest {};

// "ipx NET:NODE:SOCKET" or "sap NAME NET:NODE:SOCKET" as an address.
sockaddr_ipx parse_address(const std::string& text)
{
    sockaddr_ipx a{};
    a.sa_family = AF_IPX;
    unsigned v[12];
    unsigned sock;
    if (sscanf(text.c_str(), "%2x%2x%2x%2x:%2x%2x%2x%2x%2x%2x:%4x", &v[0], &v[1], &v[2], &v[3], &v[4], &v[5], &v[6],
               &v[7], &v[8], &v[9], &sock)
        != 11)
        return a;
    for (int i = 0; i < 4; ++i)
        a.sa_netnum[i] = static_cast<char>(v[i]);
    for (int i = 0; i < 6; ++i)
        a.sa_nodenum[i] = static_cast<char>(v[4 + i]);
    a.sa_socket = htons(static_cast<u_short>(sock));
    return a;
}

std::string last_word(const std::string& line)
{
    return line.substr(line.rfind(' ') + 1);
}

NodeBytes node_bytes(const sockaddr_ipx& a)
{
    NodeBytes n;
    memcpy(n.data(), a.sa_nodenum, 6);
    return n;
}

std::vector<uint8_t> packet(uint16_t checksum, uint16_t length, uint32_t dnet, const NodeBytes& dnode, uint16_t dsock,
                            const NodeBytes& snode, const std::string& data, size_t pad = 0)
{
    std::vector<uint8_t> p = {uint8_t(checksum >> 8), uint8_t(checksum), uint8_t(length >> 8), uint8_t(length), 0, 0,
                              uint8_t(dnet >> 24), uint8_t(dnet >> 16), uint8_t(dnet >> 8), uint8_t(dnet)};
    p.insert(p.end(), dnode.begin(), dnode.end());
    p.push_back(uint8_t(dsock >> 8));
    p.push_back(uint8_t(dsock));
    p.insert(p.end(), {0, 0, 0, 0x0A});
    p.insert(p.end(), snode.begin(), snode.end());
    p.insert(p.end(), {0x12, 0x34});
    p.insert(p.end(), data.begin(), data.end());
    p.insert(p.end(), pad, 0xEE);
    return p;
}

TEST_F(IpxSegment, WhatAStationSendsFollowsTheWireFormat)
{
    RawStation raw;
    const SOCKET s = ipx_socket(0x5300);
    const int ptype = 4;
    ASSERT_EQ(setsockopt(s, NSPROTO_IPX, IPX_PTYPE, reinterpret_cast<const char*>(&ptype), sizeof ptype), 0);
    const NodeBytes raw_node = raw.node();
    const sockaddr_ipx to = ipx_address(reinterpret_cast<const char*>(raw_node.data()), 0x1234);
    ASSERT_EQ(sendto(s, "data", 4, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to), 4);

    const auto got = raw.receive(10000);
    ASSERT_TRUE(got);
    std::vector<uint8_t> expect = packet(0xFFFF, 34, 0x0A, raw_node, 0x1234, node_bytes(ipx_name(s)), "data");
    expect[5] = 4;    // packet type
    expect[28] = 0x53; // source socket 0x5300
    expect[29] = 0x00;
    ASSERT_EQ(got->size(), expect.size());
    for (size_t i = 0; i < expect.size(); ++i)
        EXPECT_EQ((*got)[i], expect[i]) << "byte " << i;
    closesocket(s);
}

TEST_F(IpxSegment, AStationTakesOnlyWellFormedPacketsForItself)
{
    RawStation raw;
    const SOCKET s = ipx_socket(0x5301);
    const NodeBytes me = node_bytes(ipx_name(s));
    NodeBytes elsewhere = me;
    elsewhere[5] ^= 1;
    struct Row {
        const char* what;
        std::vector<uint8_t> bytes;
    };
    // Sent in order on one path: if any were taken, it would come before
    // the good one.
    const Row dropped[] = {
        {"checksum", packet(0x0000, 34, 0x0A, me, 0x5301, raw.node(), "bad1")},
        {"length past the datagram", packet(0xFFFF, 40, 0x0A, me, 0x5301, raw.node(), "bad2")},
        {"length below the header", packet(0xFFFF, 20, 0x0A, me, 0x5301, raw.node(), "bad3")},
        {"another network", packet(0xFFFF, 34, 0x0B, me, 0x5301, raw.node(), "bad4")},
        {"another node", packet(0xFFFF, 34, 0x0A, elsewhere, 0x5301, raw.node(), "bad5")},
        {"nobody on the socket", packet(0xFFFF, 34, 0x0A, me, 0x5399, raw.node(), "bad6")},
    };
    for (const Row& r : dropped)
        ASSERT_TRUE(raw.send_to_node(me, r.bytes)) << "row " << r.what;
    // Network 0 is ours too, and bytes past the length are padding.
    ASSERT_TRUE(raw.send_to_node(me, packet(0xFFFF, 34, 0, me, 0x5301, raw.node(), "good", 7)));

    char buf[64];
    sockaddr_ipx from;
    int fromlen = sizeof from;
    ASSERT_EQ(recvfrom(s, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &fromlen), 4);
    EXPECT_EQ(std::string(buf, 4), "good");
    EXPECT_EQ(node_bytes(from), raw.node());
    EXPECT_EQ(ntohs(from.sa_socket), 0x1234);
    u_long n = 1;
    ASSERT_EQ(ioctlsocket(s, FIONREAD, &n), 0);
    EXPECT_EQ(n, 0u) << "a malformed or foreign packet was taken";
    closesocket(s);
}

TEST_F(IpxSegment, TwoProcessesExchangeDatagrams)
{
    DevsimProcess peer({"5100"}, "ipx_peer");
    ASSERT_TRUE(peer.ready()) << peer.error();
    const sockaddr_ipx there = parse_address(last_word(peer.lines().at(0)));
    const SOCKET s = ipx_socket();
    EXPECT_NE(memcmp(there.sa_nodenum, ipx_name(s).sa_nodenum, 6), 0) << "each process is its own station";

    ASSERT_EQ(sendto(s, "ping", 4, 0, reinterpret_cast<const sockaddr*>(&there), sizeof there), 4);
    ASSERT_TRUE(wait_for(s, Set::read));
    char buf[64];
    sockaddr_ipx from;
    int fromlen = sizeof from;
    ASSERT_EQ(recvfrom(s, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &fromlen), 9);
    EXPECT_EQ(std::string(buf, 9), "echo:ping");
    EXPECT_EQ(ipx_text(from), ipx_text(there));
    closesocket(s);
}

TEST_F(IpxSegment, ABroadcastReachesEveryOtherStationButNotItsSender)
{
    DevsimProcess peer1({"5200"}, "ipx_peer");
    DevsimProcess peer2({"5200"}, "ipx_peer");
    ASSERT_TRUE(peer1.ready()) << peer1.error();
    ASSERT_TRUE(peer2.ready()) << peer2.error();
    // Our own socket 0x5200 would hear our broadcast if it were not dropped.
    const SOCKET own = ipx_socket(0x5200);
    const SOCKET sender = ipx_socket();
    const BOOL on = TRUE;
    ASSERT_EQ(setsockopt(sender, SOL_SOCKET, SO_BROADCAST, reinterpret_cast<const char*>(&on), sizeof on), 0);
    auto station = kolm::platform::ipx::Station::acquire();
    ASSERT_TRUE(station);
    const uint64_t own_before = (*station)->counters().own_broadcasts;

    const sockaddr_ipx all = ipx_broadcast(0x5200);
    ASSERT_EQ(sendto(sender, "all", 3, 0, reinterpret_cast<const sockaddr*>(&all), sizeof all), 3);
    std::set<std::string> answered;
    for (int i = 0; i < 2; ++i) {
        ASSERT_TRUE(wait_for(sender, Set::read)) << "only " << answered.size() << " stations answered";
        char buf[64];
        sockaddr_ipx from;
        int fromlen = sizeof from;
        ASSERT_EQ(recvfrom(sender, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &fromlen), 8);
        EXPECT_EQ(std::string(buf, 8), "echo:all");
        answered.insert(ipx_text(from));
    }
    EXPECT_EQ(answered, (std::set<std::string>{last_word(peer1.lines().at(0)), last_word(peer2.lines().at(0))}));
    ASSERT_TRUE(wait_until([&] { return (*station)->counters().own_broadcasts > own_before; }));
    u_long n = 1;
    ASSERT_EQ(ioctlsocket(own, FIONREAD, &n), 0);
    EXPECT_EQ(n, 0u) << "the sender's station took its own broadcast";
    closesocket(own);
    closesocket(sender);
}

// What the SAP discovery of the programs does, step by step.
struct SapEntry {
    u_short type;
    std::string name;
    std::string address;
};

std::vector<SapEntry> sap_query(const sockaddr_ipx& dest, size_t expected, int* datagrams)
{
    std::vector<SapEntry> entries;
    const SOCKET s = socket(AF_IPX, SOCK_DGRAM, NSPROTO_IPX);
    const int ptype = 4;
    const BOOL on = TRUE;
    sockaddr_ipx local{};
    local.sa_family = AF_IPX;
    local.sa_socket = htons(0x0452);
    u_long nonblocking = 1;
    if (setsockopt(s, NSPROTO_IPX, IPX_PTYPE, reinterpret_cast<const char*>(&ptype), sizeof ptype) != 0
        || bind(s, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0
        || setsockopt(s, SOL_SOCKET, SO_BROADCAST, reinterpret_cast<const char*>(&on), sizeof on) != 0
        || ioctlsocket(s, FIONBIO, &nonblocking) != 0)
        return entries;
    const char query[4] = {0x00, 0x01, 0x05, 0x2C};
    if (sendto(s, query, 4, 0, reinterpret_cast<const sockaddr*>(&dest), sizeof dest) != 4)
        return entries;
    *datagrams = 0;
    while (entries.size() < expected && wait_for(s, Set::read)) {
        u_long waiting = 0;
        ioctlsocket(s, FIONREAD, &waiting);
        EXPECT_GE(waiting, 66u) << "a readable SAP socket holds at least one answer";
        char buf[500];
        const int n = recv(s, buf, sizeof buf, 0);
        if (n < 2)
            break;
        ++*datagrams;
        for (int off = 2; off + 64 <= n; off += 64) {
            const unsigned char* e = reinterpret_cast<const unsigned char*>(buf + off);
            sockaddr_ipx a{};
            memcpy(a.sa_netnum, e + 50, 4);
            memcpy(a.sa_nodenum, e + 54, 6);
            memcpy(&a.sa_socket, e + 60, 2);
            entries.push_back({static_cast<u_short>(e[0] << 8 | e[1]), std::string(buf + off + 2, strnlen(buf + off + 2, 48)),
                               ipx_text(a)});
        }
    }
    closesocket(s);
    return entries;
}

TEST_F(IpxSegment, SapQueryOfDevsimThroughTheStack)
{
    DevsimProcess d({"--sap", "PORTSRV1", "--sap", "PORTSRV2,5000", "--sap", "LAB@HOME", "--sap-other", "PRINTER,0004",
                     "--sap-split", "3"});
    ASSERT_TRUE(d.ready()) << d.error();
    std::string srv2;
    for (const std::string& l : d.lines())
        if (l.rfind("sap PORTSRV2 ", 0) == 0)
            srv2 = last_word(l);
    ASSERT_FALSE(srv2.empty());

    struct Row {
        const char* what;
        sockaddr_ipx dest;
    };
    sockaddr_ipx directed = parse_address(srv2);
    directed.sa_socket = htons(0x0452);
    const Row rows[] = {{"broadcast", ipx_broadcast(0x0452)}, {"directed", directed}};
    for (const Row& r : rows) {
        int datagrams = 0;
        const auto entries = sap_query(r.dest, 4, &datagrams);
        ASSERT_EQ(entries.size(), 4u) << "row " << r.what;
        EXPECT_EQ(datagrams, 2) << "row " << r.what << ": 4 entries at 3 per datagram";
        std::set<std::string> names;
        for (const SapEntry& e : entries) {
            names.insert(e.name);
            EXPECT_EQ(e.type, e.name == "PRINTER" ? 0x0004 : 0x052C) << "row " << r.what << " " << e.name;
            if (e.name == "PORTSRV2") {
                EXPECT_EQ(e.address, srv2) << "row " << r.what;
            }
        }
        EXPECT_EQ(names, (std::set<std::string>{"PORTSRV1", "PORTSRV2", "LAB@HOME", "PRINTER"})) << "row " << r.what;
    }
}

} // namespace
