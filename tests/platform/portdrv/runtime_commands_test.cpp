// Commands raised before the runtime registered: handed to the runtime it
// published at once, and kept for a retry while there is none to reach.
#include <memory>

#include "commands.h"
#include "datawin.h"
#include "kolmvx.h"
#include "portdrv/port_driver.h"
#include "portdrv/runtime_commands.h"
#include "test_support.h"
#include "win32.h"

namespace kolm::test {
namespace {

using platform::portdrv::AppSide;
using platform::portdrv::CommandPath;
using platform::portdrv::DriverOptions;
using platform::portdrv::PortDriver;
using platform::portdrv::RuntimeCommands;

class NoApp : public AppSide {
public:
    size_t take_output(char*, size_t) override { return 0; }
    size_t give_input(const char*, size_t) override { return 0; }
};

class Commands : public RootedTest {
protected:
    Commands() { RegisterRedirectedPort(&redirectedPort); }
    ~Commands() override { RegisterRedirectedPort(nullptr); }

    // A driver and the watcher's command hand-over on the given path.
    void attach(CommandPath path)
    {
        driver = std::make_shared<PortDriver>(std::make_shared<NoApp>(), DriverOptions{path});
        commands = std::make_unique<RuntimeCommands>(path);
        commands->attach(driver);
    }

    // Publishes `value` under `name` as the runtime does before it registers.
    static void publish(const char* name, DWORD value)
    {
        HKEY key;
        ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, keyPath, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        ASSERT_EQ(RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value),
                  ERROR_SUCCESS);
        RegCloseKey(key);
    }

    // The driver's WM_COMMAND for `code`, if one is waiting for `hwnd`.
    static bool command_posted(HWND hwnd, int code)
    {
        MSG msg;
        while (PeekMessageA(&msg, hwnd, 0, 0, PM_REMOVE))
            if (msg.message == WM_COMMAND && msg.wParam == ID_DRIVER_CMD && (msg.lParam & 0xFF) == code)
                return true;
        return false;
    }

    std::shared_ptr<PortDriver> driver;
    std::unique_ptr<RuntimeCommands> commands;
};

TEST_F(Commands, EventPathReachesThePublishedEventOrRetries)
{
    attach(CommandPath::Event);
    // Nobody published: the command waits in the driver for a retry.
    ASSERT_TRUE(commands->raise(CMD_PREP));
    EXPECT_TRUE(commands->retry_pending());

    HANDLE cmd = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    ASSERT_NE(cmd, nullptr);
    publish("Event", OpenVxDHandle(cmd));
    commands->retry();
    EXPECT_FALSE(commands->retry_pending());
    EXPECT_EQ(WaitForSingleObject(cmd, 0), WAIT_OBJECT_0);

    // Published already: signalled at once, nothing left for a retry.
    ASSERT_TRUE(commands->raise(CMD_DISC));
    EXPECT_FALSE(commands->retry_pending());
    EXPECT_EQ(WaitForSingleObject(cmd, 0), WAIT_OBJECT_0);
    EXPECT_EQ(driver->pending_commands(), (1u << CMD_PREP) | (1u << CMD_DISC));

    // A published value that names no event is nobody to reach.
    CloseHandle(cmd);
    publish("Event", 0x7FFF0000);
    ASSERT_TRUE(commands->raise(CMD_DTR_LOW));
    EXPECT_TRUE(commands->retry_pending());
}

TEST_F(Commands, WindowPathPostsToThePublishedWindowOrRetries)
{
    attach(CommandPath::Window);
    const HWND hwnd = CreateWindowExA(0, "STATIC", "runtime", 0, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(hwnd, nullptr);

    // Nothing published: no message, and the command is kept.
    ASSERT_TRUE(commands->raise(CMD_PREP));
    EXPECT_TRUE(commands->retry_pending());
    EXPECT_FALSE(command_posted(hwnd, CMD_PREP));

    publish("HWND", HandleToDword(hwnd));
    commands->retry();
    EXPECT_FALSE(commands->retry_pending());
    EXPECT_TRUE(command_posted(hwnd, CMD_PREP));

    ASSERT_TRUE(commands->raise(CMD_DISC));
    EXPECT_FALSE(commands->retry_pending());
    EXPECT_TRUE(command_posted(hwnd, CMD_DISC));

    // A window that is gone is nobody to reach.
    DestroyWindow(hwnd);
    ASSERT_TRUE(commands->raise(CMD_DTR_LOW));
    EXPECT_TRUE(commands->retry_pending());
}

} // namespace
} // namespace kolm::test
