// The installer in script mode on machines described by .reg files: what
// the port scan finds, which port it registers, and what the user is told.
#include <sstream>

#include "install_test_util.h"

namespace kolm::test {
namespace {

// One COM port the configuration manager knows about.
struct HostPort {
    std::string portname;
    WORD start = 0;
    std::string mfg = "(Standard port types)";
    int selector = 0;       // layout of its "Allocation"; -1: none
    bool driver = true;     // has a "Driver"
};

std::string hex(const std::vector<BYTE>& bytes)
{
    std::ostringstream out;
    out << "hex:";
    for (size_t i = 0; i < bytes.size(); ++i)
        out << (i ? "," : "") << std::hex << (bytes[i] >> 4) << (bytes[i] & 15);
    return out.str();
}

std::vector<BYTE> allocation(int selector, WORD start)
{
    std::vector<BYTE> a(selector == 1 ? 44 : 28, 0);
    a[4] = static_cast<BYTE>(selector);
    const size_t at = selector == 1 ? 36 : 20;
    a[at] = static_cast<BYTE>(start);
    a[at + 1] = static_cast<BYTE>(start >> 8);
    a[at + 2] = static_cast<BYTE>(start + 7);
    a[at + 3] = static_cast<BYTE>((start + 7) >> 8);
    return a;
}

// A machine: the device branches, `classes` class entries, and the ports
// as BIOS devices with their nodes.
std::string machine(const std::vector<HostPort>& ports, const std::vector<std::string>& classes = {},
                    bool root_ports = true)
{
    std::ostringstream reg;
    reg << "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Enum\\Root]\n\n";
    if (root_ports)
        reg << "[HKEY_LOCAL_MACHINE\\Enum\\Root\\Ports]\n\n";
    reg << "[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\Class\\Ports]\n\n";
    for (const auto& c : classes)
        reg << "[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\Class\\Ports\\" << c
            << "]\n\"PortDriver\"=\"serial.vxd\"\n\n";
    for (size_t i = 0; i < ports.size(); ++i) {
        const auto& p = ports[i];
        reg << "[HKEY_DYN_DATA\\Config Manager\\Enum\\C29A" << 1000 + i << "]\n\"HardWareKey\"=\"BIOS\\\\*PNP0501\\\\"
            << i << "\"\n";
        if (p.selector >= 0)
            reg << "\"Allocation\"=" << hex(allocation(p.selector, p.start)) << "\n";
        reg << "\n[HKEY_LOCAL_MACHINE\\Enum\\BIOS\\*PNP0501\\" << i << "]\n\"PORTNAME\"=\"" << p.portname
            << "\"\n\"Mfg\"=\"" << p.mfg << "\"\n";
        if (p.driver)
            reg << "\"Driver\"=\"Ports\\\\0000\"\n";
        reg << "\n";
    }
    return reg.str();
}

// A port of an earlier installation, as install left it.
std::string installed_port(const char* mfg)
{
    return std::string("[HKEY_LOCAL_MACHINE\\Enum\\Root\\Ports\\0001]\n\"Mfg\"=\"") + mfg
        + "\"\n\"PORTNAME\"=\"COM3\"\n\"Driver\"=\"Ports\\\\0001\"\n\"ForcedConfig\"="
        + hex(allocation(0, 0x3E8)) + "\n\n";
}

const char* const kTwoPorts = "COM3 at 0x3E8 in the new entry 0001";

class InstallMachines : public InstallTest {
protected:
    struct Outcome {
        int status = -1;
        std::vector<std::string> messages;
    };

    // Runs install with a script naming one service and no path, and waits
    // for the setup program when the installer got as far as starting it.
    Outcome install(bool setup_started)
    {
        const std::string script = file("inst.txt", "sv1=ip:far:1\n");
        Outcome o;
        o.status = run_command(bin_path("install").string() + " " + script + " 2>/dev/null").status;
        if (setup_started) {
            EXPECT_TRUE(wait_until([&] { return slurp(here / "drive_c/WINDOWS/kolmvx.log").find("ResultCode=")
                                                != std::string::npos; }))
                << "the setup program was not started";
        }
        o.messages = screen_messages();
        return o;
    }

    // The COM name and I/O base of the port registered in `entry`, and the
    // class entry its "Driver" names.
    std::string registered(const std::string& entry)
    {
        const std::string key = "Enum\\Root\\Ports\\" + entry;
        const auto forced = hklm_bytes(key, "ForcedConfig");
        if (forced.size() != 44)
            return "nothing in " + entry;
        char text[96];
        std::snprintf(text, sizeof text, "%s at 0x%X in the new entry %s", hklm_string(key, "PORTNAME").c_str(),
                      forced[20] | (forced[21] << 8), entry.c_str());
        const std::string driver = hklm_string(key, "Driver");
        const std::string cls = "System\\CurrentControlSet\\Services\\Class\\" + driver;
        if (hklm_string(cls, "PortDriver") != "kolmvx.vxd")
            return std::string(text) + " without its class entry " + driver;
        return text;
    }

    std::filesystem::path here = root.path(); // the machine root of the case
};

TEST_F(InstallMachines, PortScanAndRegistration)
{
    struct Row {
        const char* what;
        std::string reg;
        int status;
        std::vector<std::string> messages;
        std::string result; // registered(...) of the new entry
        const char* entry = "0001";
        const char* driver = "Ports\\0001";
    };
    const std::vector<HostPort> all_taken = {{"COM3", 0x100}, {"COM4", 0x101}, {"COM9", 0x108},
                                             {"COM10", 0x110}, {"COM11", 0x118}, {"COM8", 0x102}, {"COM12", 0x128}};
    std::vector<HostPort> many;
    for (int i = 0; i < 22; ++i)
        many.push_back(HostPort{"COM" + std::to_string(20 + i), static_cast<WORD>(0x400 + 8 * i)});
    const Row rows[] = {
        {"COM1 and COM2 only", machine({{"COM1", 0x3F8}, {"COM2", 0x2F8}}), 0, {}, kTwoPorts},
        {"COM3 taken by name, COM4 by address", machine({{"COM3", 0x200}, {"COM7", 0x2E8}}), 0, {},
         "COM5 at 0x108 in the new entry 0001"},
        {"all seven taken", machine(all_taken), 1, {"Error: Can't find a free resource"}, "nothing in 0001"},
        {"class entries 0000 to 0002", machine({}, {"0000", "0001", "0002"}), 0, {},
         "COM3 at 0x3E8 in the new entry 0001", "0001", "Ports\\0003"},
        {"a lone class entry 0010", machine({}, {"0010"}), 0, {}, "COM3 at 0x3E8 in the new entry 0001", "0001",
         "Ports\\0011"},
        {"a class entry whose next number needs ten digits", machine({}, {"999999999"}), 1,
         {"Error: Couldn't create subkey 1000000000 at System\\CurrentControlSet\\Services\\Class\\Ports",
          "Error: Error setting up driver section in Registry"},
         "nothing in 0001"},
        {"no Enum\\Root\\Ports yet", machine({{"COM1", 0x3F8}}, {}, false), 0, {}, kTwoPorts},
        {"an earlier port whose maker differs in case", machine({}) + installed_port("tarvizone"), 0, {},
         "COM4 at 0x2E8 in the new entry 0002", "0002"},
        {"LPT1 and com1 are not COM ports", machine({{"LPT1", 0x3E8}, {"com1", 0x3E8}}), 0, {}, kTwoPorts},
        {"allocation with selector 1", machine({{"COM1", 0x3E8, "x", 1}}), 0, {},
         "COM4 at 0x2E8 in the new entry 0001"},
        {"unreadable Driver", machine({{"COM1", 0x3F8, "x", 0, false}}), 1,
         {"Error: Couldn't read Driver for Enum\\BIOS\\*PNP0501\\0: 2"}, "nothing in 0001"},
        {"unreadable Allocation", machine({{"COM1", 0x3F8, "x", -1}}), 1,
         {"Error: Couldn't read Allocation for Config Manager\\Enum\\C29A1000: 2"}, "nothing in 0001"},
        {"unknown selector", machine({{"COM1", 0x3F8, "x", 2}}), 1,
         {"Error: Couldn't interpret Allocation for COM1: 0"}, "nothing in 0001"},
        {"more than 20 ports", machine(many), 1, {"Error: Too many ports! (20)"}, kTwoPorts},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        TempRoot fresh;
        here = fresh.path();
        SetUp();
        ASSERT_TRUE(import_reg(row.reg));
        const bool registers = row.result.rfind("nothing", 0) != 0;
        const Outcome o = install(registers);
        EXPECT_EQ(o.status, row.status);
        EXPECT_EQ(o.messages, row.messages);
        EXPECT_EQ(registered(row.entry), row.result);
        if (registers) {
            EXPECT_EQ(hklm_string(std::string("Enum\\Root\\Ports\\") + row.entry, "Driver"), row.driver);
            // A script without a path: the uninstaller alone.
            EXPECT_EQ(hklm_string(uninstKeyName, "UninstallString"), "remove.exe");
            EXPECT_EQ(hklm_string(uninstKeyName, "DisplayName"), "Tarvizone Redirector");
        } else {
            // Nothing written but the response file.
            EXPECT_FALSE(hklm_exists(uninstKeyName));
            EXPECT_FALSE(hklm_exists("System\\CurrentControlSet\\Services\\Class\\Ports\\0001"));
            EXPECT_TRUE(std::filesystem::exists(here / "drive_c/WINDOWS/kolmvx.iss"));
        }
    }
}

TEST_F(InstallMachines, AnEarlierInstallationAsksWhetherToUpdate)
{
    // The port of the earlier installation comes after a port that was
    // already recorded.
    const std::string reg = machine({{"COM1", 0x3F8}}) + installed_port("Tarvizone");
    const std::string question = "Info: Redirector is already installed.  Update?";
    {
        SCOPED_TRACE("Cancel");
        ASSERT_TRUE(import_reg(reg));
        ::setenv("KOLM_MSGBOX_ANSWERS", "IDCANCEL", 1);
        const Outcome o = install(false);
        EXPECT_EQ(o.status, 2);
        EXPECT_EQ(o.messages, std::vector<std::string>{question});
        EXPECT_FALSE(hklm_exists(uninstKeyName));
        EXPECT_FALSE(hklm_exists("Enum\\Root\\Ports\\0002"));
        EXPECT_TRUE(std::filesystem::exists(root.path() / "drive_c/WINDOWS/kolmvx.iss"));
    }
    {
        SCOPED_TRACE("OK");
        TempRoot fresh;
        here = fresh.path();
        SetUp();
        ASSERT_TRUE(import_reg(reg));
        ::setenv("KOLM_MSGBOX_ANSWERS", "IDOK", 1);
        const Outcome o = install(true);
        EXPECT_EQ(o.status, 0);
        EXPECT_EQ(o.messages, std::vector<std::string>{question});
        EXPECT_EQ(hklm_string(uninstKeyName, "UninstallString"), "remove.exe");
        EXPECT_FALSE(hklm_exists("Enum\\Root\\Ports\\0002"));
        EXPECT_FALSE(hklm_exists("System\\CurrentControlSet\\Services\\Class\\Ports\\0002"));
    }
    ::unsetenv("KOLM_MSGBOX_ANSWERS");
}

TEST_F(InstallMachines, AScriptThatCannotBeReadEndsSilently)
{
    const int status = run_command(bin_path("install").string() + " " + (root.path() / "missing.txt").string()
                                   + " 2>&1")
                           .status;
    EXPECT_EQ(status, 3);
    EXPECT_TRUE(screen_messages().empty());
    EXPECT_FALSE(std::filesystem::exists(root.path() / "drive_c/WINDOWS/kolmvx.iss"));
    EXPECT_FALSE(hklm_exists(uninstKeyName));
}

} // namespace
} // namespace kolm::test
