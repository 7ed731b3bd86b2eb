// Moving bytes between a connected socket and a byte ring.
#include <gtest/gtest.h>

#include <string>

#include "iface32.h"
#include "netstuff.h"
#include "tcp_pair.h"
#include "test_support.h"

using namespace kolm::test;

namespace {

std::string pattern(size_t n, int seed = 0)
{
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i)
        s[i] = static_cast<char>((i * 7 + static_cast<size_t>(seed)) & 0xFF);
    return s;
}

struct Ring {
    char buf[QUEUE_SIZE];
    AppyQ q{QUEUE_SIZE, 0, 0, 0, 0};
};

TEST(ToNet, SendsBothPiecesAtTheWrap)
{
    TcpPair pair;
    Ring r;
    const std::string data = pattern(48);
    memcpy(r.buf + 1000, data.data(), 24);
    memcpy(r.buf, data.data() + 24, 24);
    r.q.head = 1000;
    r.q.tail = 24;
    r.q.count = 48;
    int status = 0;
    EXPECT_EQ(xferToNet_95(pair.a, r.buf, &r.q, &status), 48);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(r.q.head, 24u);
    EXPECT_EQ(r.q.count, 0u);
    EXPECT_EQ(pair.recv_b(48), data);
}

TEST(ToNet, OnePieceAndHeadWrapsToZero)
{
    TcpPair pair;
    Ring r;
    const std::string data = pattern(24, 3);
    memcpy(r.buf + 1000, data.data(), 24);
    r.q.head = 1000;
    r.q.tail = 0;
    r.q.count = 24;
    int status = 0;
    EXPECT_EQ(xferToNet_95(pair.a, r.buf, &r.q, &status), 24);
    EXPECT_EQ(r.q.head, 0u);
    EXPECT_EQ(pair.recv_b(24), data);
}

TEST(ToNet, FailedSendLeavesTheQueue)
{
    TcpPair pair;
    Ring r;
    r.q.head = 10;
    r.q.tail = 20;
    r.q.count = 10;
    const SOCKET dead = pair.a;
    closesocket(pair.a);
    pair.a = INVALID_SOCKET;
    int status = 0;
    EXPECT_EQ(xferToNet_95(dead, r.buf, &r.q, &status), 0);
    EXPECT_NE(status, 0);
    EXPECT_EQ(r.q.head, 10u);
    EXPECT_EQ(r.q.count, 10u);
}

TEST(ToNet, ImpossiblePieceSendsNothing)
{
    TcpPair pair;
    Ring r;
    // head beyond the ring: the first piece would be negative.
    r.q.head = 1100;
    r.q.tail = 0;
    r.q.count = 5;
    int status = 12345;
    EXPECT_EQ(xferToNet_95(pair.a, r.buf, &r.q, &status), 0);
    EXPECT_EQ(status, 12345) << "status untouched";
    EXPECT_EQ(r.q.head, 1100u);
    EXPECT_EQ(r.q.count, 5u);
}

TEST(FromNet, EmptyQueueTakesAtMost1023)
{
    TcpPair pair;
    Ring r;
    pair.send_b(pattern(2000));
    int status = 0;
    int total = 0;
    // The first receive may return less than is on its way; what counts is
    // the bound and the bookkeeping.
    total = xferFromNet_95(pair.a, r.buf, &r.q, &status);
    EXPECT_GT(total, 0);
    EXPECT_LE(total, 1023);
    EXPECT_EQ(r.q.count, static_cast<DWORD>(total));
    EXPECT_EQ(r.q.tail, static_cast<DWORD>(total) % QUEUE_SIZE);
    EXPECT_EQ(std::string(r.buf, static_cast<size_t>(total)), pattern(2000).substr(0, static_cast<size_t>(total)));
}

TEST(FromNet, SecondPieceAtTheWrap)
{
    TcpPair pair;
    Ring r;
    r.q.head = r.q.tail = 512;
    const std::string data = pattern(1000, 9);
    pair.send_b(data);
    // Wait until all of it has arrived, so the second piece has something.
    u_long avail = 0;
    ASSERT_TRUE(wait_until([&] {
        ioctlsocket(pair.a, FIONREAD, &avail);
        return avail >= 1000;
    }));
    int status = 0;
    EXPECT_EQ(xferFromNet_95(pair.a, r.buf, &r.q, &status), 1000);
    EXPECT_EQ(r.q.count, 1000u);
    EXPECT_EQ(r.q.tail, 488u);
    EXPECT_EQ(std::string(r.buf + 512, 512) + std::string(r.buf, 488), data);
}

TEST(FromNet, SecondPieceNeverWaitsForMore)
{
    TcpPair pair;
    Ring r;
    r.q.head = r.q.tail = 1000;
    // Exactly fills the first piece; nothing more is coming. The call must
    // come back with those bytes instead of waiting for the far end.
    pair.send_b(pattern(24));
    int status = 0;
    int total = 0;
    ASSERT_TRUE(wait_until([&] {
        u_long avail = 0;
        ioctlsocket(pair.a, FIONREAD, &avail);
        return avail >= 24;
    }));
    total = xferFromNet_95(pair.a, r.buf, &r.q, &status);
    EXPECT_EQ(total, 24);
    EXPECT_EQ(r.q.tail, 0u);
}

TEST(FromNet, FullQueueMakesNoSocketCall)
{
    TcpPair pair;
    Ring r;
    r.q.head = 100;
    r.q.tail = 99;
    r.q.count = 1023;
    int status = 0;
    EXPECT_EQ(xferFromNet_95(pair.a, r.buf, &r.q, &status), 0);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(r.q.count, 1023u);
}

TEST(FromNet, OrderlyCloseIsReportedAsAClose)
{
    TcpPair pair;
    Ring r;
    closesocket(pair.b);
    pair.b = INVALID_SOCKET;
    int status = 0;
    EXPECT_EQ(xferFromNet_95(pair.a, r.buf, &r.q, &status), 0);
    EXPECT_EQ(status, STATUS_PEER_CLOSED);
}

TEST(Pause, WaitsAtLeastTheTime)
{
    const DWORD start = GetTickCount();
    heinous_pause(120);
    EXPECT_GE(GetTickCount() - start, 120u);
}

TEST(HexDigits, Conversions)
{
    EXPECT_EQ(BtoH('0'), 0);
    EXPECT_EQ(BtoH('9'), 9);
    EXPECT_EQ(BtoH('a'), 10);
    EXPECT_EQ(BtoH('F'), 15);
    EXPECT_EQ(BtoH('g'), 0xFF);
    char src[] = "00C0F2001234";
    char out[6];
    AtoH(src, out, 6);
    const unsigned char want[6] = {0x00, 0xC0, 0xF2, 0x00, 0x12, 0x34};
    EXPECT_EQ(memcmp(out, want, 6), 0);
}

} // namespace
