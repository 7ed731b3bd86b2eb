// The text forms of a service: the stored form both programs read and write,
// the list form of the setup utility, and the IPX address text.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "data.h"

namespace {

service_desc make_ipx(const char* name, const unsigned char net[4], const unsigned char node[6])
{
    service_desc s;
    std::memset(&s, 0, sizeof s);
    s.protocol = PROTO_IPX;
    std::memcpy(s.addr.sa_netnum, net, 4);
    std::memcpy(s.addr.sa_nodenum, node, 6);
    std::strcpy(s.name, name);
    return s;
}

TEST(StoredForm, ReadsTheForms)
{
    struct Row {
        const char* text;
        int filled;
        int protocol;
        const char* name;
    } rows[] = {
        {"IP:server7:3", 1, PROTO_IP, "server7:3"},
        {"IPX:00000012:00-00-1B-22-3C-4D:PRINTSRV", 1, PROTO_IPX, "PRINTSRV"},
        // Only three characters are compared: the fourth is not examined.
        {"IPX-00000012:00-00-1B-22-3C-4D:PRINTSRV", 1, PROTO_IPX, "PRINTSRV"},
        {"IPX:00000000:00-00-00-00-00-01:", 1, PROTO_IPX, ""},
        {"ip:x", 0, 0, ""},
        {"", 0, 0, ""},
        {"TCP:host:1", 0, 0, ""},
        // Shorter than its address: left empty, nothing read past the text.
        {"IPX:00000012:00-00", 0, 0, ""},
        {"IPX", 0, 0, ""},
        // A name that would not fit 47 characters leaves the slot empty.
        {"IP:0123456789012345678901234567890123456789012345678", 0, 0, ""},
        {"IP:01234567890123456789012345678901234567890123456", 1, PROTO_IP,
         "01234567890123456789012345678901234567890123456"},
    };
    for (const auto& r : rows) {
        service_desc s;
        std::memset(&s, 0xbd, sizeof s);
        s.name[0] = 'x';
        EXPECT_EQ(stored_to_desc(r.text, &s), r.filled) << r.text;
        if (r.filled) {
            EXPECT_EQ(s.protocol, r.protocol) << r.text;
            EXPECT_STREQ(s.name, r.name) << r.text;
        } else {
            EXPECT_EQ(s.name[0], '\0') << r.text;
        }
    }
}

TEST(StoredForm, IpxAddressRoundTrips)
{
    const unsigned char net[4] = {0x00, 0x00, 0x00, 0x12};
    const unsigned char node[6] = {0x00, 0x00, 0x1B, 0x22, 0x3C, 0x4D};
    service_desc s = make_ipx("PRINTSRV", net, node);
    char text[STORED_TEXT_LEN];
    desc_to_stored(&s, text);
    EXPECT_STREQ(text, "IPX:00000012:00-00-1B-22-3C-4D:PRINTSRV");

    service_desc back;
    std::memset(&back, 0, sizeof back);
    ASSERT_EQ(stored_to_desc(text, &back), 1);
    EXPECT_EQ(std::memcmp(back.addr.sa_netnum, net, 4), 0);
    EXPECT_EQ(std::memcmp(back.addr.sa_nodenum, node, 6), 0);
    EXPECT_STREQ(back.name, "PRINTSRV");
}

TEST(StoredForm, HighNodeBytesGiveTwoDigitsEach)
{
    const unsigned char net[4] = {0xFF, 0x80, 0x00, 0x01};
    const unsigned char node[6] = {0xFF, 0x80, 0x9A, 0xFE, 0x00, 0x7F};
    service_desc s = make_ipx("A", net, node);
    char text[STORED_TEXT_LEN];
    std::memset(text, 0xbd, sizeof text);
    const int n = desc_to_stored(&s, text);
    EXPECT_STREQ(text, "IPX:FF800001:FF-80-9A-FE-00-7F:A");
    EXPECT_EQ(n, static_cast<int>(std::strlen(text)));
    service_desc back;
    ASSERT_EQ(stored_to_desc(text, &back), 1);
    EXPECT_EQ(std::memcmp(back.addr.sa_nodenum, node, 6), 0);
    EXPECT_EQ(std::memcmp(back.addr.sa_netnum, net, 4), 0);
}

TEST(StoredForm, WritesEmptyForEmptyOrUnknown)
{
    service_desc s;
    std::memset(&s, 0, sizeof s);
    char text[STORED_TEXT_LEN] = "junk";
    s.protocol = PROTO_IP;
    EXPECT_EQ(desc_to_stored(&s, text), 0) << "empty name";
    EXPECT_STREQ(text, "");
    std::strcpy(s.name, "host:1");
    s.protocol = 0;
    desc_to_stored(&s, text);
    EXPECT_STREQ(text, "");
    s.protocol = PROTO_IP;
    desc_to_stored(&s, text);
    EXPECT_STREQ(text, "IP:host:1");
}

TEST(StoredForm, LongestTextsFitTheBuffer)
{
    service_desc s;
    std::memset(&s, 0, sizeof s);
    std::memset(s.name, 'N', SERVICE_NAME_LEN - 1);
    s.name[SERVICE_NAME_LEN - 1] = '\0';
    char text[STORED_TEXT_LEN + 8];
    std::memset(text, 0xbd, sizeof text);
    s.protocol = PROTO_IPX;
    desc_to_stored(&s, text);
    EXPECT_EQ(std::strlen(text), 4u + IPX_ADDR_TEXT_LEN + SERVICE_NAME_LEN - 1);
    EXPECT_LT(std::strlen(text), static_cast<size_t>(STORED_TEXT_LEN));
    for (size_t i = STORED_TEXT_LEN; i < sizeof text; ++i)
        EXPECT_EQ(static_cast<unsigned char>(text[i]), 0xbd);
}

TEST(AddressText, ReadsByFixedPositions)
{
    struct Row {
        const char* text;
        unsigned char net[4];
        unsigned char node[6];
    } rows[] = {
        {"00000012:00-00-1B-22-3C-4D:", {0, 0, 0, 0x12}, {0, 0, 0x1B, 0x22, 0x3C, 0x4D}},
        {"0000000a:ff-fe-01-02-03-04:", {0, 0, 0, 0x0A}, {0xFF, 0xFE, 1, 2, 3, 4}},
        // Conversion stops at the first non-digit of a field.
        {"12G45678:0Z-00-00-00-00-01:", {0, 0, 0, 0x12}, {0, 0, 0, 0, 0, 1}},
        // The text ends early: what is missing reads as 0, nothing past it.
        {"00000001:AB", {0, 0, 0, 1}, {0xAB, 0, 0, 0, 0, 0}},
    };
    for (const auto& r : rows) {
        char buf[40];
        std::strcpy(buf, r.text);
        sockaddr_ipx a;
        std::memset(&a, 0x55, sizeof a);
        char* end = textToAddr(buf, &a);
        EXPECT_EQ(std::memcmp(a.sa_netnum, r.net, 4), 0) << r.text;
        EXPECT_EQ(std::memcmp(a.sa_nodenum, r.node, 6), 0) << r.text;
        EXPECT_EQ(a.sa_family, 0x5555) << "family untouched: " << r.text;
        EXPECT_LE(end, buf + std::strlen(buf)) << r.text;
    }
}

TEST(ListForm, BothWays)
{
    struct Row {
        const char* text;
        int protocol;
        const char* name;
    } rows[] = {
        {"[IP ]server7:3", PROTO_IP, "server7:3"},
        {"[IPX]PRINTSRV", PROTO_IPX, "PRINTSRV"},
        {"PRINTSRV", PROTO_NONE, ""},
        {"[IP]x", PROTO_NONE, ""},
        {"[IPX]", PROTO_IPX, ""},
    };
    for (const auto& r : rows) {
        service_desc s;
        std::memset(&s, 0, sizeof s);
        s.addr.sa_socket = 0x1234;
        list_to_desc(r.text, &s);
        EXPECT_EQ(s.protocol, r.protocol) << r.text;
        EXPECT_STREQ(s.name, r.name) << r.text;
        EXPECT_EQ(s.addr.sa_socket, 0x1234) << "addr untouched: " << r.text;
        if (r.protocol != PROTO_NONE) {
            char out[LIST_PREFIX_LEN + SERVICE_NAME_LEN];
            desc_to_list(&s, out);
            EXPECT_STREQ(out, r.text);
        }
    }
}

TEST(Records, LayoutOfTheIpxAddress)
{
    EXPECT_EQ(sizeof(sockaddr_ipx), 14u);
    EXPECT_EQ(offsetof(sockaddr_ipx, sa_netnum), 2u);
    EXPECT_EQ(offsetof(sockaddr_ipx, sa_nodenum), 6u);
    EXPECT_EQ(offsetof(sockaddr_ipx, sa_socket), 12u);
}

} // namespace
