// The wire header and the segment settings.
#include <cstring>
#include <vector>

#include <gtest/gtest.h>

#include "ipx/ipx_header.h"
#include "ipx/segment_config.h"

namespace {

using namespace kolm::platform::ipx;

Header sample()
{
    Header h;
    h.length = kHeaderSize + 4;
    h.packet_type = 4;
    h.dest = Address{0x00000000, kBroadcastNode, 0x0452};
    h.src = Address{0x0A0B0C0D, Node{0x7F, 0x00, 0x00, 0x01, 0x9C, 0x40}, 0x4005};
    return h;
}

TEST(IpxHeader, FieldsSitAtTheirOffsetsBigEndian)
{
    uint8_t out[kHeaderSize + 2];
    memset(out, 0xbd, sizeof out);
    encode_header(sample(), out);
    const uint8_t expect[kHeaderSize] = {
        0xFF, 0xFF,                         // 0 checksum
        0x00, 0x22,                         // 2 length: 30 + 4
        0x00,                               // 4 transport control
        0x04,                               // 5 packet type
        0x00, 0x00, 0x00, 0x00,             // 6 destination network
        0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, // 10 destination node
        0x04, 0x52,                         // 16 destination socket
        0x0A, 0x0B, 0x0C, 0x0D,             // 18 source network
        0x7F, 0x00, 0x00, 0x01, 0x9C, 0x40, // 22 source node
        0x40, 0x05,                         // 28 source socket
    };
    for (size_t i = 0; i < kHeaderSize; ++i)
        EXPECT_EQ(out[i], expect[i]) << "offset " << i;
    EXPECT_EQ(out[kHeaderSize], 0xbd) << "wrote past the header";
}

TEST(IpxHeader, DecodeChecksWhatEveryStationChecks)
{
    struct Row {
        const char* what;
        std::vector<uint8_t> bytes;
        bool accepted;
    };
    std::vector<uint8_t> good(kHeaderSize + 4, 0xAA);
    encode_header(sample(), good.data());
    auto with = [&](size_t off, std::vector<uint8_t> patch, size_t size) {
        std::vector<uint8_t> b = good;
        b.resize(size, 0);
        for (size_t i = 0; i < patch.size(); ++i)
            b[off + i] = patch[i];
        return b;
    };
    const Row rows[] = {
        {"good", good, true},
        {"padding after length", with(0, {}, good.size() + 10), true},
        {"checksum not FFFF", with(0, {0x12, 0x34}, good.size()), false},
        {"length below header", with(2, {0x00, 0x1D}, good.size()), false},
        {"length past datagram", with(2, {0x00, 0x23}, good.size()), false},
        {"length over 576", with(2, {0x02, 0x41}, 600), false},
        {"shorter than a header", std::vector<uint8_t>(good.begin(), good.begin() + 29), false},
    };
    for (const Row& r : rows)
        EXPECT_EQ(decode_header(r.bytes.data(), r.bytes.size()).has_value(), r.accepted) << "row " << r.what;

    const auto h = decode_header(good.data(), good.size());
    ASSERT_TRUE(h);
    EXPECT_EQ(h->length, kHeaderSize + 4);
    EXPECT_EQ(h->packet_type, 4);
    EXPECT_TRUE(h->dest == sample().dest);
    EXPECT_TRUE(h->src == sample().src);
}

TEST(IpxHeader, NodeIsAddressAndPort)
{
    uint32_t addr = 0;
    uint16_t port = 0;
    const uint8_t a[4] = {127, 0, 0, 1};
    const uint8_t p[2] = {0x9C, 0x40};
    uint32_t a_be;
    uint16_t p_be;
    memcpy(&a_be, a, 4);
    memcpy(&p_be, p, 2);
    const Node n = node_of(a_be, p_be);
    EXPECT_EQ(n, (Node{127, 0, 0, 1, 0x9C, 0x40}));
    endpoint_of(n, &addr, &port);
    EXPECT_EQ(addr, a_be);
    EXPECT_EQ(port, p_be);
}

TEST(SegmentConfig, SettingsAndTheirDefaults)
{
    struct Row {
        const char *iface, *group, *net;
        bool ok;
        const char* group_addr; // dotted, when ok
        uint16_t port;
        uint32_t network;
    };
    const Row rows[] = {
        {nullptr, nullptr, nullptr, true, "239.255.2.13", 21300, 1},
        {"", "", "", true, "239.255.2.13", 21300, 1},
        {"127.0.0.1", "239.1.2.3:4000", "0000000A", true, "239.1.2.3", 4000, 10},
        {"127.0.0.1", "239.1.2.3", "0xdeadBEEF", true, "239.1.2.3", 21300, 0xDEADBEEF},
        {"localhost", nullptr, nullptr, false, "", 0, 0},
        {nullptr, "10.0.0.1:4000", nullptr, false, "", 0, 0},
        {nullptr, "239.1.2.3:0", nullptr, false, "", 0, 0},
        {nullptr, "239.1.2.3:65536", nullptr, false, "", 0, 0},
        {nullptr, "239.1.2.3:x", nullptr, false, "", 0, 0},
        {nullptr, nullptr, "123456789", false, "", 0, 0},
        {nullptr, nullptr, "12G4", false, "", 0, 0},
    };
    for (const Row& r : rows) {
        std::string error;
        const auto c = parse_segment_config(r.iface, r.group, r.net, &error);
        const std::string what = std::string(r.iface ? r.iface : "-") + " " + (r.group ? r.group : "-") + " "
            + (r.net ? r.net : "-");
        ASSERT_EQ(c.has_value(), r.ok) << "row " << what << ": " << error;
        if (!r.ok) {
            EXPECT_FALSE(error.empty()) << "row " << what;
            continue;
        }
        const uint8_t* g = reinterpret_cast<const uint8_t*>(&c->group_addr);
        EXPECT_EQ(std::to_string(g[0]) + "." + std::to_string(g[1]) + "." + std::to_string(g[2]) + "."
                      + std::to_string(g[3]),
                  r.group_addr)
            << "row " << what;
        EXPECT_EQ(c->group_port, r.port) << "row " << what;
        EXPECT_EQ(c->network, r.network) << "row " << what;
    }
}

} // namespace
