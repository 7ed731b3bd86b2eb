// The runtime from the driver's command to the network and back: connect,
// transfer both ways, disconnect, and every way a connection can end.
#include <gtest/gtest.h>

#include <atomic>
#include <random>
#include <string>

#include "data.h"
#include "iface32.h"
#include "inotice.h"
#include "kolmmsg.h"
#include "runtime_harness.h"
#include "test_servers.h"

using namespace kolm::test;
using kolm::platform::portdrv::DriverCall;

namespace {

std::string random_bytes(size_t n, unsigned seed)
{
    std::mt19937 rng(seed);
    std::string s(n, '\0');
    for (auto& c : s)
        c = static_cast<char>(rng() & 0xFF);
    return s;
}

RuntimeSetup with_services(std::vector<std::string> services)
{
    RuntimeSetup s;
    s.services = std::move(services);
    return s;
}

TEST(DataPath, OpenTransferBothWaysClose)
{
    TestServer server;
    RuntimeHarness rt(with_services({server.service()}));
    ASSERT_TRUE(rt.start());
    rt.port().raise(CMD_PREP);
    ASSERT_TRUE(rt.port().wait_for_subfunction(SUBF_CONNECTED));
    EXPECT_EQ(status_of(rt), STATUS_CONNECTED);

    const std::string payload = random_bytes(1 << 20, 1);
    rt.port().write(payload);
    ASSERT_TRUE(rt.port().wait_for_received(payload.size(), std::chrono::seconds(60)));
    EXPECT_TRUE(rt.port().received() == payload) << "echo differs";

    rt.port().raise(CMD_DISC);
    ASSERT_TRUE(rt.port().wait_for_subfunction(SUBF_DISC_DONE));
    EXPECT_EQ(status_of(rt), STATUS_IDLE);
    EXPECT_EQ(subf_count(rt, SUBF_NET_CLOSED), 0) << "the application's own close is not a network close";

    const std::string name = server.service().substr(3);
    ASSERT_TRUE(rt.wait_screen("Disconnected."));
    const auto pos = positions(rt.screen_lines(), {"Attempting to connect to service " + name,
                                                   "Successfully redirected COM3 to service " + name,
                                                   "Disconnecting.", "Disconnected."});
    for (size_t i = 0; i < pos.size(); ++i)
        EXPECT_GE(pos[i], 0) << "notice " << i << " missing or out of order";
    for (const auto& l : rt.screen_lines())
        EXPECT_EQ(l.find("closed the connection"), std::string::npos) << l;
}

TEST(DataPath, ApplicationTakesLittleAtATime)
{
    TestServer server;
    RuntimeHarness rt(with_services({server.service()}));
    ASSERT_TRUE(rt.start());
    rt.port().set_accept_per_write(7);
    rt.port().raise(CMD_PREP);
    ASSERT_TRUE(rt.port().wait_for_subfunction(SUBF_CONNECTED));
    const std::string payload = random_bytes(200000, 2);
    rt.port().write(payload);
    ASSERT_TRUE(rt.port().wait_for_received(payload.size(), std::chrono::seconds(60)));
    EXPECT_TRUE(rt.port().received() == payload);
}

TEST(DataPath, ApplicationThatStopsReadingLosesNothing)
{
    TestServer server;
    RuntimeHarness rt(with_services({server.service()}));
    ASSERT_TRUE(rt.start());
    rt.port().raise(CMD_PREP);
    ASSERT_TRUE(rt.port().wait_for_subfunction(SUBF_CONNECTED));
    rt.port().set_accept_per_write(0);
    const std::string payload = random_bytes(300000, 3);
    rt.port().write(payload);
    // The runtime offers what it received and the application takes
    // nothing; the bytes wait in the runtime's ring, none is dropped.
    ASSERT_TRUE(rt.port().wait_for(
        [&] {
            for (const auto& c : rt.driver().calls())
                if (c.code == DIOC_WRITE && c.ok && c.result == 0)
                    return true;
            return false;
        },
        std::chrono::seconds(30)));
    rt.port().set_accept_per_write(static_cast<size_t>(-1));
    ASSERT_TRUE(rt.port().wait_for_received(payload.size(), std::chrono::seconds(60)));
    EXPECT_TRUE(rt.port().received() == payload);
}

TEST(DataPath, FailoverToTheSecondService)
{
    RefusingPort refused;
    TestServer server;
    RuntimeHarness rt(with_services({refused.service(), server.service()}));
    ASSERT_TRUE(rt.start());
    const unsigned char before = counter_now();
    rt.port().raise(CMD_PREP);
    ASSERT_TRUE(rt.port().wait_for_subfunction(SUBF_CONNECTED, 1, std::chrono::seconds(40)));
    EXPECT_EQ(status_of(rt), 1 * 256 + STATUS_CONNECTED) << "the second service (index 1) is in use";
    const std::string a = refused.service().substr(3), b = server.service().substr(3);
    ASSERT_TRUE(rt.wait_screen("Successfully redirected COM3 to service " + b));
    const auto pos = positions(rt.screen_lines(),
                               {"Attempting to connect to service " + a, "First attempt failed.  Will try again.",
                                "Attempting to connect to service " + b,
                                "Successfully redirected COM3 to service " + b});
    for (size_t i = 0; i < pos.size(); ++i)
        EXPECT_GE(pos[i], 0) << "notice " << i;
    // One number per notice, each one more than the last.
    EXPECT_EQ(static_cast<unsigned char>(counter_now() - before), 4);
}

TEST(DataPath, NoServiceAnswers)
{
    RefusingPort a, b;
    RuntimeHarness rt(with_services({a.service(), "", b.service()}));
    ASSERT_TRUE(rt.start());
    rt.port().raise(CMD_PREP);
    ASSERT_TRUE(rt.port().wait_for_subfunction(SUBF_CONNECT_FAILED, 1, std::chrono::seconds(40)));
    EXPECT_TRUE(rt.wait_screen("Failed to connect to any service."));
    sync_service_thread(rt);
    EXPECT_EQ(sock_state(), 1);
    EXPECT_EQ(status_of(rt), STATUS_IDLE);

}

// Whether Windows Sockets is started in this process now: a socket can be
// made only then.
bool winsock_started()
{
    const SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
    if (s == INVALID_SOCKET)
        return WSAGetLastError() != WSANOTINITIALISED;
    closesocket(s);
    return true;
}

// A user who corrects the list after a failed open gets the corrected list
// at the next open; Windows Sockets is started once for both opens and
// cleaned up once at the disconnect.
TEST(DataPath, ListCorrectedAfterAFailedConnectIsUsedAtTheNextOpen)
{
    ASSERT_FALSE(winsock_started());
    RefusingPort refused;
    RuntimeHarness rt(with_services({refused.service()}));
    ASSERT_TRUE(rt.start());
    rt.port().raise(CMD_PREP);
    ASSERT_TRUE(rt.port().wait_for_subfunction(SUBF_CONNECT_FAILED, 1, std::chrono::seconds(40)));

    TestServer server;
    rt.set_service(0, server.service());
    rt.port().raise(CMD_PREP);
    ASSERT_TRUE(rt.port().wait_for(
        [&] { return subf_count(rt, SUBF_CONNECTED) + subf_count(rt, SUBF_CONNECT_FAILED) >= 2; },
        std::chrono::seconds(40)));
    ASSERT_EQ(subf_count(rt, SUBF_CONNECTED), 1) << "the open used the list read before the correction";
    rt.port().write("corrected");
    ASSERT_TRUE(rt.port().wait_for_received(9));
    rt.port().raise(CMD_DISC);
    ASSERT_TRUE(rt.port().wait_for_subfunction(SUBF_DISC_DONE));
    sync_service_thread(rt);
    EXPECT_FALSE(winsock_started()) << "WSAStartup and WSACleanup are not balanced";
}

TEST(DataPath, EmptyListMakesNoAttempt)
{
    RuntimeHarness rt(with_services({"", "", "", ""}));
    ASSERT_TRUE(rt.start());
    rt.port().raise(CMD_PREP);
    ASSERT_TRUE(rt.port().wait_for_subfunction(SUBF_CONNECT_FAILED));
    EXPECT_TRUE(rt.wait_screen("Failed to connect to any service."));
    for (const auto& l : rt.screen_lines())
        EXPECT_EQ(l.find("Attempting"), std::string::npos) << l;
}

TEST(DataPath, UnknownHostAndBrokenAddresses)
{
    RuntimeHarness rt(with_services({"IP:no!such!host:1", "IP:127.0.0.300:1", "IPX:00000000:00-00-00-00-00-01:0A:12"}));
    ASSERT_TRUE(rt.start());
    rt.port().raise(CMD_PREP);
    ASSERT_TRUE(rt.port().wait_for_subfunction(SUBF_CONNECT_FAILED, 1, std::chrono::seconds(40)));
    EXPECT_TRUE(rt.wait_screen("Cannot find specified IP host"));
    EXPECT_TRUE(rt.wait_screen("Failed to connect to any service."));
}

TEST(DataPath, PeerClosesInTheMiddle)
{
    TestServer server(ServerMode::CloseAfter, 5000);
    RuntimeHarness rt(with_services({server.service()}));
    ASSERT_TRUE(rt.start());
    rt.port().raise(CMD_PREP);
    ASSERT_TRUE(rt.port().wait_for_subfunction(SUBF_CONNECTED));
    rt.port().write(random_bytes(20000, 4));
    ASSERT_TRUE(rt.port().wait_for_subfunction(SUBF_NET_CLOSED));
    const std::string name = server.service().substr(3);
    EXPECT_TRUE(rt.wait_screen(name + " closed the connection on COM3"));
    EXPECT_EQ(port_state(), PORT_NET_CLOSED);
    // The driver's Disc still closes the socket; the close is not told twice.
    rt.port().raise(CMD_DISC);
    ASSERT_TRUE(rt.port().wait_for_subfunction(SUBF_DISC_DONE));
    EXPECT_EQ(subf_count(rt, SUBF_NET_CLOSED), 1);
    // And the next open connects again.
    rt.port().raise(CMD_PREP);
    ASSERT_TRUE(rt.port().wait_for_subfunction(SUBF_CONNECTED, 2));
}

// A far end that accepts and closes at once: the close arrives while the
// connection is still being set up, and must end the session once it is
// up: the driver hears CONNECTED and then NET_CLOSED (the application's
// hang-up), and the close notice follows the success notice.
TEST(DataPath, FarEndClosingRightAfterTheAcceptIsAHangUpEveryTime)
{
    TestServer server(ServerMode::HangUp);
    RuntimeHarness rt(with_services({server.service()}));
    ASSERT_TRUE(rt.start());
    const std::string name = server.service().substr(3);
    constexpr int kRounds = 100;
    int hung_up = 0;
    for (int round = 0; round < kRounds; ++round) {
        const size_t lines = rt.screen_lines().size();
        const size_t base = rt.port().subfunctions().size();
        rt.port().raise(CMD_PREP);
        ASSERT_TRUE(rt.port().wait_for([&] { return rt.port().subfunctions().size() > base; })) << round;
        // The hang-up must follow within the application's patience.
        rt.port().wait_for([&] { return rt.port().subfunctions().size() >= base + 2; }, std::chrono::seconds(3));
        const auto subs = rt.port().subfunctions();
        const std::vector<int> got(subs.begin() + static_cast<std::ptrdiff_t>(base), subs.end());
        if (got == std::vector<int>{SUBF_CONNECTED, SUBF_NET_CLOSED})
            ++hung_up;
        else
            ADD_FAILURE() << "round " << round << ": " << ::testing::PrintToString(got);
        auto since = [&] {
            auto all = rt.screen_lines();
            all.erase(all.begin(), all.begin() + static_cast<std::ptrdiff_t>(std::min(lines, all.size())));
            return all;
        };
        ASSERT_TRUE(rt.port().wait_for([&] { return positions(since(), {" closed the connection on"})[0] >= 0; }))
            << round;
        std::string shown;
        for (const auto& l : since())
            shown += l + "\n";
        const size_t success = shown.find("Successfully redirected COM3 to service " + name);
        EXPECT_LT(success, shown.find(name + " closed the connection on COM3"))
            << "round " << round << ": notices out of order";
        rt.port().raise(CMD_DISC);
        ASSERT_TRUE(rt.port().wait_for_subfunction(SUBF_DISC_DONE, static_cast<size_t>(round) + 1)) << round;
    }
    EXPECT_EQ(hung_up, kRounds);
}

TEST(DataPath, DtrDropClosesAndTellsTheDriver)
{
    TestServer server;
    RuntimeHarness rt(with_services({server.service()}));
    ASSERT_TRUE(rt.start());
    rt.port().raise(CMD_DTR_LOW); // not connected: nothing
    sync_service_thread(rt);
    rt.port().raise(CMD_PREP);
    ASSERT_TRUE(rt.port().wait_for_subfunction(SUBF_CONNECTED));
    EXPECT_EQ(subf_count(rt, SUBF_NET_CLOSED), 0);
    rt.port().raise(CMD_DTR_LOW);
    ASSERT_TRUE(rt.port().wait_for_subfunction(SUBF_NET_CLOSED));
    sync_service_thread(rt);
    EXPECT_EQ(sock_state(), 0);
    EXPECT_TRUE(rt.wait_screen("closed the connection on COM3"));
    EXPECT_EQ(status_of(rt), STATUS_IDLE);
}

TEST(DataPath, FlushWhileConnectedKeepsWhatArrivesAfter)
{
    TestServer server;
    RuntimeHarness rt(with_services({server.service()}));
    ASSERT_TRUE(rt.start());
    rt.port().raise(CMD_PREP);
    ASSERT_TRUE(rt.port().wait_for_subfunction(SUBF_CONNECTED));
    for (int round = 0; round < 20; ++round) {
        // The network-to-driver pump waits in a receive while the queue is
        // flushed; the echo that follows must arrive whole and in order.
        rt.port().raise(CMD_FLUSH_FROM_NET);
        sync_service_thread(rt);
        const size_t before = rt.port().received().size();
        const std::string text = "round " + std::to_string(round);
        rt.port().write(text);
        ASSERT_TRUE(rt.port().wait_for_received(before + text.size())) << round;
        EXPECT_EQ(rt.port().received().substr(before), text) << round;
    }
}

TEST(DataPath, PrepWhileConnectedKeepsTheConnection)
{
    TestServer server;
    RuntimeHarness rt(with_services({server.service()}));
    ASSERT_TRUE(rt.start());
    rt.port().raise(CMD_PREP);
    ASSERT_TRUE(rt.port().wait_for_subfunction(SUBF_CONNECTED));
    rt.port().raise(CMD_PREP);
    ASSERT_TRUE(rt.port().wait_for_subfunction(SUBF_CONNECT_FAILED));
    EXPECT_EQ(status_of(rt), STATUS_CONNECTED);
    rt.port().write("still there");
    ASSERT_TRUE(rt.port().wait_for_received(11));
    // Counted only after the echo: the server's thread accepts a connection
    // some time after the runtime's connect has completed, but before it
    // can echo anything over it.
    EXPECT_EQ(server.connections(), 1);
}

TEST(DataPath, PrepAndDiscInOneWord)
{
    TestServer server;
    RuntimeHarness rt(with_services({server.service()}));
    // Raised before the runtime has published its command event: the bits
    // wait in the driver and are fetched together at the first wake-up.
    rt.port().raise(CMD_DISC);
    rt.port().raise(CMD_PREP);
    ASSERT_TRUE(rt.start());
    rt.port().raise(CMD_READ);
    ASSERT_TRUE(rt.port().wait_for_subfunction(SUBF_DISC_DONE));
    const auto subs = rt.port().subfunctions();
    ASSERT_GE(subs.size(), 2u);
    EXPECT_EQ(subs[0], SUBF_CONNECTED);
    EXPECT_EQ(subs[1], SUBF_DISC_DONE);
    EXPECT_EQ(status_of(rt), STATUS_IDLE);
}

TEST(DataPath, DiscWhileNotConnectedResetsTheQueues)
{
    RuntimeHarness rt(with_services({}));
    ASSERT_TRUE(rt.start());
    sync_service_thread(rt); // opens the driver; nothing else runs then
    toNetQ.count = 5;
    toNetQ.head = 3;
    toNetQ.tail = 8;
    rt.port().raise(CMD_DISC);
    ASSERT_TRUE(rt.port().wait_for_subfunction(SUBF_DISC_DONE));
    sync_service_thread(rt);
    EXPECT_EQ(toNetQ.count, 0u);
    EXPECT_EQ(toNetQ.head, 0u);
    EXPECT_EQ(toNetQ.size, static_cast<DWORD>(QUEUE_SIZE));
}

TEST(DataPath, FlushesKeepSizeAndLocked)
{
    RuntimeHarness rt(with_services({}));
    ASSERT_TRUE(rt.start());
    sync_service_thread(rt); // opens the driver; nothing else runs then
    for (AppyQ* q : {&toNetQ, &fromNetQ}) {
        q->size = QUEUE_SIZE;
        q->count = 9;
        q->head = 2;
        q->tail = 11;
        q->locked = 7;
    }
    toNetBuffer[2] = 'k';
    rt.port().raise(CMD_FLUSH_TO_NET);
    sync_service_thread(rt);
    EXPECT_EQ(toNetQ.count, 0u);
    EXPECT_EQ(toNetQ.head, 0u);
    EXPECT_EQ(toNetQ.tail, 0u);
    EXPECT_EQ(toNetQ.size, static_cast<DWORD>(QUEUE_SIZE));
    EXPECT_EQ(toNetQ.locked, 7u);
    EXPECT_EQ(toNetBuffer[2], 'k') << "ring storage untouched";
    EXPECT_EQ(fromNetQ.count, 9u) << "only the named queue";
    // The window path flushes the same way.
    SendMessageA(rt.window(), WM_COMMAND, ID_DRIVER_CMD, CMD_FLUSH_FROM_NET);
    EXPECT_EQ(fromNetQ.count, 0u);
    EXPECT_EQ(fromNetQ.locked, 7u);
}

TEST(DataPath, WindowPathConnectsAndDisconnects)
{
    TestServer server;
    RuntimeSetup setup = with_services({server.service()});
    setup.driver_options.path = kolm::platform::portdrv::CommandPath::Window;
    RuntimeHarness rt(setup);
    ASSERT_TRUE(rt.start());
    rt.port().raise(CMD_PREP);
    ASSERT_TRUE(rt.port().wait_for_subfunction(SUBF_CONNECTED));
    rt.port().write("window path");
    ASSERT_TRUE(rt.port().wait_for_received(11));
    rt.port().raise(CMD_DISC);
    ASSERT_TRUE(rt.port().wait_for([&] { return status_of(rt) == STATUS_IDLE; }));
    EXPECT_EQ(subf_count(rt, SUBF_DISC_DONE), 0) << "no answer to Disc on the window path";
}

} // namespace
