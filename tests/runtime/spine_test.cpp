// The runtime's start, its window, its link with the port driver, and its
// end: run in-process against a scripted driver.
#include <gtest/gtest.h>

#include <atomic>
#include <cstddef>
#include <thread>

#include "data.h"
#include "iface32.h"
#include "kolmmsg.h"
#include "runtime_harness.h"

using namespace kolm::test;
using kolm::platform::portdrv::CommandPath;
using kolm::platform::portdrv::DriverCall;

namespace {

int count_subf(const std::vector<DriverCall>& calls, int subf)
{
    int n = 0;
    for (const auto& c : calls)
        n += c.code == DIOC_SUBF && c.subfunction == subf;
    return n;
}

TEST(DriverBlocks, PackedLayouts)
{
    EXPECT_EQ(sizeof(AppyQ), 20u);
    EXPECT_EQ(offsetof(AppyQ, size), 0u);
    EXPECT_EQ(offsetof(AppyQ, count), 4u);
    EXPECT_EQ(offsetof(AppyQ, head), 8u);
    EXPECT_EQ(offsetof(AppyQ, tail), 12u);
    EXPECT_EQ(offsetof(AppyQ, locked), 16u);

    EXPECT_EQ(sizeof(vxdParam), 10u);
    EXPECT_EQ(offsetof(vxdParam, portNumber), 0u);
    EXPECT_EQ(offsetof(vxdParam, subfunction), 1u);
    EXPECT_EQ(offsetof(vxdParam, buf), 2u);
    EXPECT_EQ(offsetof(vxdParam, q), 6u);

    EXPECT_EQ(sizeof(vxdInitParam), 21u);
    EXPECT_EQ(offsetof(vxdInitParam, portNumber), 0u);
    EXPECT_EQ(offsetof(vxdInitParam, hwnd), 1u);
    EXPECT_EQ(offsetof(vxdInitParam, AppToVxDR0), 5u);
    EXPECT_EQ(offsetof(vxdInitParam, CmdEventR0), 9u);
    EXPECT_EQ(offsetof(vxdInitParam, VxDToNetEventR0), 13u);
    EXPECT_EQ(offsetof(vxdInitParam, NetToVxDEventR0), 17u);
}

TEST(Runtime, StartPublishesAndTeardownClearsOnlyTheWindow)
{
    RuntimeHarness rt;
    ASSERT_TRUE(rt.start());
    HWND hwnd = rt.window();
    ASSERT_NE(hwnd, nullptr);
    EXPECT_EQ(rt.published("HWND"), static_cast<long long>(HandleToDword(hwnd)));
    const long long event = rt.published("Event");
    const long long a2v = rt.published("A2V");
    EXPECT_GT(event, 0);
    EXPECT_GT(a2v, 0);
    EXPECT_NE(event, a2v);

    EXPECT_EQ(SendMessageA(hwnd, WM_GET_STATUS, 0, 0), STATUS_NO_DRIVER);
    EXPECT_EQ(SendMessageA(hwnd, WM_QUERYENDSESSION, 0, 0), 1);
    EXPECT_EQ(SendMessageA(hwnd, WM_TIMER, 7, 0), 0);
    EXPECT_EQ(SendMessageA(hwnd, WM_REDIR_NOP, 0, 0), 0);
    EXPECT_EQ(SendMessageA(hwnd, WM_SOCKET_NOTIFY, 5, 0x10), 0);
    // Not the driver's command: no driver call is made.
    EXPECT_EQ(SendMessageA(hwnd, WM_COMMAND, MAKEWPARAM(ID_DRIVER_CMD, 1), CMD_PREP), 0);
    EXPECT_TRUE(rt.driver().calls().empty());

    EXPECT_EQ(rt.stop(), 0);
    EXPECT_EQ(rt.published("HWND"), 0);
    EXPECT_EQ(rt.published("Event"), event);
    EXPECT_EQ(rt.published("A2V"), a2v);
}

TEST(Runtime, EndSessionEndsEvenWhenCancelled)
{
    RuntimeHarness rt;
    ASSERT_TRUE(rt.start());
    PostMessageA(rt.window(), WM_ENDSESSION, FALSE, 0);
    ASSERT_TRUE(wait_until([&] { return !rt.running(); }));
    EXPECT_EQ(rt.published("HWND"), 0);
}

TEST(Runtime, MissingConfigurationKeyEndsSilently)
{
    RuntimeSetup setup;
    setup.config_key = false;
    RuntimeHarness rt(setup);
    ASSERT_TRUE(rt.start(/*expect_exit=*/true));
    EXPECT_NE(rt.exit_code(), 0);
    for (const auto& line : rt.screen_lines())
        EXPECT_EQ(line.find("messagebox"), std::string::npos) << line;
}

TEST(Runtime, NoDriverShowsTwoBoxesAndStaysUnopened)
{
    RuntimeSetup setup;
    setup.driver = false;
    RuntimeHarness rt(setup);
    ASSERT_TRUE(rt.start());
    // With no driver there is no one to signal the command event; the
    // window path opens the driver too.
    SendMessageA(rt.window(), WM_COMMAND, ID_DRIVER_CMD, CMD_PREP);
    EXPECT_TRUE(rt.wait_screen("CreateFile failed with 00000002"));
    EXPECT_TRUE(rt.wait_screen("No VxD found from kolm32!"));
    EXPECT_EQ(SendMessageA(rt.window(), WM_GET_STATUS, 0, 0), STATUS_NO_DRIVER);
    // The failed open is not tried again.
    SendMessageA(rt.window(), WM_COMMAND, ID_DRIVER_CMD, CMD_PREP);
    int boxes = 0;
    for (const auto& l : rt.screen_lines())
        boxes += l.find("CreateFile failed") != std::string::npos;
    EXPECT_EQ(boxes, 1);
}

TEST(Runtime, RefusedRegistrationEndsTheServiceThread)
{
    RuntimeSetup setup;
    setup.driver_options.refuse_register = true;
    RuntimeHarness rt(setup);
    ASSERT_TRUE(rt.start());
    rt.port().raise(CMD_PREP);
    EXPECT_TRUE(rt.wait_screen("Failed to register APC"));
    EXPECT_TRUE(rt.wait_screen("Failed to register callback to kolm32"));
    // The device stays open: the status word says so.
    EXPECT_EQ(SendMessageA(rt.window(), WM_GET_STATUS, 0, 0), STATUS_IDLE);
    const auto before = rt.driver().calls().size();
    rt.port().raise(CMD_FLUSH_TO_NET);
    // No service thread fetches the bits any more.
    EXPECT_FALSE(rt.port().wait_for([&] { return rt.driver().calls().size() > before; },
                                    std::chrono::milliseconds(300)));
}

TEST(Runtime, FirstCommandOpensRegistersAndFetches)
{
    RuntimeHarness rt;
    ASSERT_TRUE(rt.start());
    rt.port().raise(CMD_FLUSH_FROM_NET);
    ASSERT_TRUE(rt.port().wait_for([&] { return count_subf(rt.driver().calls(), SUBF_GET_COMMANDS) == 1; }));
    const auto calls = rt.driver().calls();
    ASSERT_GE(calls.size(), 2u);
    EXPECT_EQ(calls[0].code, static_cast<DWORD>(DIOC_REGISTER));
    EXPECT_EQ(calls[1].code, static_cast<DWORD>(DIOC_SUBF));
    EXPECT_EQ(calls[1].result, 1u << CMD_FLUSH_FROM_NET);
    EXPECT_TRUE(rt.driver().registered());
    EXPECT_EQ(rt.driver().pending_commands(), 0u);
    EXPECT_EQ(SendMessageA(rt.window(), WM_GET_STATUS, 0, 0), STATUS_IDLE);
    rt.stop();
    EXPECT_TRUE(rt.driver().app_exited());
    EXPECT_EQ(count_subf(rt.driver().calls(), SUBF_APP_EXIT), 1);
}

TEST(Runtime, WindowPathCarriesPortAndCode)
{
    RuntimeSetup setup;
    setup.driver_options.path = CommandPath::Window;
    RuntimeHarness rt(setup);
    ASSERT_TRUE(rt.start());
    // Prep with no services configured: the driver hears that the connect
    // failed, for the port the command named.
    rt.port().raise(CMD_PREP, 2);
    ASSERT_TRUE(rt.port().wait_for_subfunction(SUBF_CONNECT_FAILED));
    const auto calls = rt.driver().calls();
    EXPECT_EQ(calls.front().code, static_cast<DWORD>(DIOC_REGISTER));
    bool seen = false;
    for (const auto& c : calls) {
        if (c.code == DIOC_SUBF && c.subfunction == SUBF_CONNECT_FAILED) {
            EXPECT_EQ(c.port, 2);
            seen = true;
        }
    }
    EXPECT_TRUE(seen);
    EXPECT_EQ(count_subf(calls, SUBF_GET_COMMANDS), 0) << "the window path fetches no bits";
    // A code above 7 does nothing.
    const auto before = rt.driver().calls().size();
    SendMessageA(rt.window(), WM_COMMAND, ID_DRIVER_CMD, 0x0009);
    EXPECT_EQ(rt.driver().calls().size(), before);
}

TEST(DriverLink, SubfunctionWithNegativePortMakesNoCall)
{
    RuntimeHarness rt;
    ASSERT_TRUE(rt.start());
    rt.port().raise(CMD_READ);
    ASSERT_TRUE(rt.port().wait_for([&] { return count_subf(rt.driver().calls(), SUBF_GET_COMMANDS) == 1; }));
    const auto before = rt.driver().calls().size();
    EXPECT_EQ(VxDSubf(-1, SUBF_GET_COMMANDS), 0u);
    EXPECT_EQ(rt.driver().calls().size(), before);
}

TEST(DriverLink, CloseIsReportedOnceFromTwoThreads)
{
    RuntimeHarness rt;
    ASSERT_TRUE(rt.start());
    rt.port().raise(CMD_READ);
    ASSERT_TRUE(rt.port().wait_for([&] { return rt.driver().registered(); }));
    for (int round = 0; round < 20; ++round) {
        set_port_state(PORT_CONNECTED);
        std::atomic<bool> go{false};
        auto closer = [&] {
            while (!go.load()) {
            }
            VxDClose(0, 0);
        };
        std::thread a(closer), b(closer);
        go = true;
        a.join();
        b.join();
        EXPECT_EQ(count_subf(rt.driver().calls(), SUBF_NET_CLOSED), round + 1) << "round " << round;
        EXPECT_EQ(port_state(), PORT_NET_CLOSED);
    }
}

TEST(DriverLink, StatusWord)
{
    RuntimeHarness rt;
    ASSERT_TRUE(rt.start());
    HWND h = rt.window();
    EXPECT_EQ(SendMessageA(h, WM_GET_STATUS, 0, 0), 1);
    rt.port().raise(CMD_READ);
    ASSERT_TRUE(rt.port().wait_for([&] { return rt.driver().registered(); }));
    struct Row {
        signed char sock;
        signed char cur;
        LRESULT status;
    } rows[] = {{0, 0, 2}, {1, 3, 2}, {2, 0, 3}, {2, 2, 0x203}, {2, 3, 0x303}};
    for (const auto& r : rows) {
        set_sock_state(r.sock);
        set_cur_serv(r.cur);
        EXPECT_EQ(SendMessageA(h, WM_GET_STATUS, 0, 0), r.status) << int(r.sock) << "/" << int(r.cur);
    }
    set_sock_state(0);
}

} // namespace
