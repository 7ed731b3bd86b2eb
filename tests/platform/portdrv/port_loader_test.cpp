// The loader finds the redirected port the installer registered, and loads
// nothing for a machine without one.
#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <optional>

#include "commands.h"
#include "datawin.h"
#include "internal/machine_root.h"
#include "portdrv/port_loader.h"
#include "portdrv/pty_port.h"
#include "test_support.h"
#include "win32.h"

namespace kolm::test {
namespace {

using platform::portdrv::find_redirected_port;
using platform::portdrv::load_port_drivers;
using platform::portdrv::LoaderSettings;

// A machine as the installer leaves it: the driver's class entry and the
// port's device entry, with the parts a row changes.
std::string machine(const std::string& mfg, const std::string& port_name, const std::string& port_driver,
                    const std::string& other_ports = "")
{
    return "REGEDIT4\n\n"
           "[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\Class\\Ports\\0003]\n"
           "\"DevLoader\"=\"*vcomm\"\n"
           "\"PortDriver\"=\"" + port_driver + "\"\n\n"
           "[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\Class\\Ports\\0000]\n"
           "\"PortDriver\"=\"serial.vxd\"\n\n"
           + other_ports +
           "[HKEY_LOCAL_MACHINE\\Enum\\Root\\Ports\\0001]\n"
           "\"Class\"=\"Ports\"\n"
           "\"Mfg\"=\"" + mfg + "\"\n"
           "\"Driver\"=\"Ports\\\\0003\"\n"
           "\"PORTNAME\"=\"" + port_name + "\"\n\n";
}

void import(const std::string& reg)
{
    const auto file = platform::machine_root() / "setup.reg";
    std::ofstream(file) << reg;
    ASSERT_EQ(kolmreg::run_import(file.string()), 0);
}

bool driver_reachable()
{
    HANDLE h = CreateFileA(KOLMVX_DEVICE_PATH, 0, 0, nullptr, CREATE_NEW, FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    CloseHandle(h);
    return true;
}

class PortLoader : public RootedTest {
protected:
    // As the runtime does before it loads the driver.
    PortLoader() { RegisterRedirectedPort(&redirectedPort); }
    ~PortLoader() override { RegisterRedirectedPort(nullptr); }

    LoaderSettings quiet{false, false};

    // A command event published as the runtime does before registering;
    // null when it could not be published.
    static HANDLE publish_command_event()
    {
        HKEY key;
        if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, keyPath, 0, nullptr, 0,
                            KEY_ALL_ACCESS, nullptr, &key, nullptr)
            != ERROR_SUCCESS)
            return nullptr;
        HANDLE cmd = CreateEventA(nullptr, FALSE, FALSE, nullptr);
        const DWORD r0 = OpenVxDHandle(cmd);
        const LONG set = RegSetValueExA(key, "Event", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&r0), sizeof r0);
        RegCloseKey(key);
        if (set != ERROR_SUCCESS) {
            CloseHandle(cmd);
            return nullptr;
        }
        return cmd;
    }
};

TEST_F(PortLoader, RegisteredPortsAndWhatIsLoaded)
{
    const std::string ours_before =
        "[HKEY_LOCAL_MACHINE\\Enum\\Root\\Ports\\0000]\n\"Mfg\"=\"Tarvizone\"\n\"PORTNAME\"=\"COM7\"\n"
        "\"Driver\"=\"Ports\\\\0003\"\n\n";
    const std::string serial_before =
        "[HKEY_LOCAL_MACHINE\\Enum\\Root\\Ports\\0000]\n\"Mfg\"=\"(Standard port types)\"\n"
        "\"PORTNAME\"=\"COM1\"\n\"Driver\"=\"Ports\\\\0000\"\n\n";
    struct Row {
        const char* name;
        std::string reg;
        const char* port; // nullptr: nothing loaded
    };
    const Row rows[] = {
        {"installed port", machine("Tarvizone", "COM5", "kolmvx.vxd"), "COM5"},
        {"driver name in capitals", machine("Tarvizone", "COM4", "KOLMVX.VXD"), "COM4"},
        {"a serial port before it", machine("Tarvizone", "COM3", "kolmvx.vxd", serial_before), "COM3"},
        {"the first marked port wins", machine("Tarvizone", "COM3", "kolmvx.vxd", ours_before), "COM7"},
        {"mark in other case", machine("tarvizone", "COM5", "kolmvx.vxd"), nullptr},
        {"another port driver", machine("Tarvizone", "COM5", "serial.vxd"), nullptr},
        {"name that is a path", machine("Tarvizone", "../x", "kolmvx.vxd"), nullptr},
        {"empty name", machine("Tarvizone", "", "kolmvx.vxd"), nullptr},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        TempRoot fresh;
        import(row.reg);
        const auto found = find_redirected_port();
        ASSERT_EQ(found.has_value(), row.port != nullptr);
        std::string link;
        {
            auto loaded = load_port_drivers(quiet);
            ASSERT_EQ(loaded != nullptr, row.port != nullptr);
            EXPECT_EQ(driver_reachable(), row.port != nullptr);
            if (!row.port)
                continue;
            EXPECT_EQ(found->name, row.port);
            EXPECT_EQ(loaded->port_name(), row.port);
            link = (platform::machine_root() / "dev" / row.port).string();
            struct stat st {};
            ASSERT_EQ(::stat(link.c_str(), &st), 0);
            EXPECT_TRUE(S_ISCHR(st.st_mode));
        }
        struct stat st {};
        EXPECT_NE(::lstat(link.c_str(), &st), 0) << "link left behind";
        EXPECT_FALSE(driver_reachable());
    }
}

// The loader knows the port only through what the program registered.
LONG always_0001(char* subkey, DWORD size)
{
    return size > 4 ? (std::strcpy(subkey, "0001"), ERROR_SUCCESS) : ERROR_MORE_DATA;
}

TEST_F(PortLoader, ThePortIsTheOneTheProgramNames)
{
    const RedirectedPortInfo other_maker = {"SOFTWARE\\Other\\1.0", "Other", always_0001};
    const RedirectedPortInfo no_search = {"SOFTWARE\\Other\\1.0", "Other", nullptr};
    struct Row {
        const char* name;
        const RedirectedPortInfo* info;
        const char* mfg;
        const char* port; // loaded, or null
        const char* why;  // when none is
    } rows[] = {
        {"the runtime's own search", &redirectedPort, "Tarvizone", "COM5", ""},
        {"another program's mark is not ours", &redirectedPort, "Other", nullptr,
         "no registered port is a Tarvizone port"},
        {"a program whose search takes any port", &other_maker, "Other", "COM5", ""},
        {"a program without a search", &no_search, "Tarvizone", nullptr, "the program named no redirected port"},
        {"no program registered", nullptr, "Tarvizone", nullptr, "the program named no redirected port"},
    };
    for (const Row& row : rows) {
        TempRoot fresh;
        import(machine(row.mfg, "COM5", "kolmvx.vxd"));
        RegisterRedirectedPort(row.info);
        std::string why;
        const auto found = find_redirected_port(&why);
        EXPECT_EQ(found.has_value(), row.port != nullptr) << row.name;
        if (found)
            EXPECT_EQ(found->name, row.port) << row.name;
        else
            EXPECT_EQ(why, row.why) << row.name;
        EXPECT_EQ(load_port_drivers(quiet) != nullptr, row.port != nullptr) << row.name;
    }
}

TEST_F(PortLoader, MachineWithoutPortsLoadsNothing)
{
    std::string why;
    EXPECT_FALSE(find_redirected_port(&why).has_value());
    EXPECT_FALSE(why.empty());
    EXPECT_EQ(load_port_drivers(quiet), nullptr);
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(driver_reachable());
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

// KOLM_PORT_GROUP by name or number; unset or empty, the user's primary
// group; a group the system does not have is refused.
TEST(PortGroup, NamesNumbersAndTheDefault)
{
    using platform::portdrv::port_group;
    const gid_t primary = ::getgid();
    const group* own = ::getgrgid(primary);
    ASSERT_NE(own, nullptr) << "the primary group has no name";
    const std::string own_name = own->gr_name;
    struct Row {
        const char* value;
        std::optional<gid_t> group;
    };
    const std::string number = std::to_string(primary);
    const Row rows[] = {
        {nullptr, primary},
        {"", primary},
        {own_name.c_str(), primary},
        {number.c_str(), primary},
        {"no-such-group-kolm", std::nullopt},
        {"4294967295", std::nullopt},     // (gid_t)-1: "leave the group" to chown
        {"99999999999999999999", std::nullopt},
        {"12abc", std::nullopt},          // neither a number nor a group's name
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.value ? row.value : "(unset)");
        std::string why;
        const auto got = port_group(row.value, &why);
        EXPECT_EQ(got, row.group);
        EXPECT_EQ(why.empty(), row.group.has_value()) << why;
    }
}

// A group that cannot be found leaves the port unpublished, with the
// reason, rather than published with another group than asked for.
TEST_F(PortLoader, AnUnknownPortGroupLoadsNothing)
{
    import(machine("Tarvizone", "COM5", "kolmvx.vxd"));
    ::setenv("KOLM_PORT_GROUP", "no-such-group-kolm", 1);
    auto loaded = load_port_drivers(quiet);
    ::unsetenv("KOLM_PORT_GROUP");
    EXPECT_EQ(loaded, nullptr);
    struct stat st {};
    EXPECT_NE(::lstat((platform::machine_root() / "dev" / "COM5").c_str(), &st), 0);
    EXPECT_FALSE(driver_reachable());
}

// The loaded driver reaches the runtime: an open of the port raises Prep
// through the "Event" value the runtime published before registering.
TEST_F(PortLoader, LoadedPortRaisesPrepThroughThePublishedEvent)
{
    import(machine("Tarvizone", "COM6", "kolmvx.vxd"));
    HANDLE cmd = publish_command_event();
    ASSERT_NE(cmd, nullptr);

    auto loaded = load_port_drivers(quiet);
    ASSERT_NE(loaded, nullptr);
    const std::string link = loaded->port().link_path().string();
    const int fd = ::open(link.c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(WaitForSingleObject(cmd, 20000), WAIT_OBJECT_0);
    EXPECT_EQ(loaded->driver().pending_commands(), 1u << CMD_PREP);
    ::close(fd);
    loaded.reset();
    CloseHandle(cmd);
}

// An application that opens the port while the runtime is still starting
// (before it published its command event) is not lost: the Prep is
// signalled once the event is there.
TEST_F(PortLoader, PrepRaisedBeforeTheRuntimePublishedIsDeliveredLater)
{
    import(machine("Tarvizone", "COM6", "kolmvx.vxd"));
    auto loaded = load_port_drivers(quiet);
    ASSERT_NE(loaded, nullptr);
    const int fd = ::open(loaded->port().link_path().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(fd, 0);
    ASSERT_TRUE(wait_until([&] { return loaded->driver().pending_commands() != 0; }));

    HANDLE cmd = publish_command_event();
    ASSERT_NE(cmd, nullptr);
    EXPECT_EQ(WaitForSingleObject(cmd, 20000), WAIT_OBJECT_0);
    EXPECT_EQ(loaded->driver().pending_commands(), 1u << CMD_PREP);
    ::close(fd);
    loaded.reset();
    CloseHandle(cmd);
}

// A runtime that registers takes the waiting commands itself; the signal
// given again once it can be reached must not hand it the same Prep twice.
TEST_F(PortLoader, PrepTakenWhenTheRuntimeRegistersIsNotRaisedAgain)
{
    import(machine("Tarvizone", "COM6", "kolmvx.vxd"));
    auto loaded = load_port_drivers(quiet);
    ASSERT_NE(loaded, nullptr);
    const int fd = ::open(loaded->port().link_path().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(fd, 0);
    ASSERT_TRUE(wait_until([&] { return loaded->driver().pending_commands() != 0; }));

    HANDLE cmd = publish_command_event();
    ASSERT_NE(cmd, nullptr);
    // The runtime fetches what waits as soon as it is up, before the
    // driver's next look for its event.
    HANDLE device = CreateFileA(KOLMVX_DEVICE_PATH, 0, 0, nullptr, 0, FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    ASSERT_NE(device, INVALID_HANDLE_VALUE);
    vxdParam p{};
    p.subfunction = SUBF_GET_COMMANDS;
    DWORD bits = 0, got = 0;
    ASSERT_TRUE(DeviceIoControl(device, DIOC_SUBF, &p, sizeof p, &bits, sizeof bits, &got, nullptr));
    EXPECT_EQ(bits, 1u << CMD_PREP);
    // The driver looks for the event again within about a second; if it
    // signals, nothing waits behind the signal.
    WaitForSingleObject(cmd, 2500);
    EXPECT_EQ(loaded->driver().pending_commands(), 0u);
    CloseHandle(device);
    ::close(fd);
    loaded.reset();
    CloseHandle(cmd);
}

} // namespace
} // namespace kolm::test
