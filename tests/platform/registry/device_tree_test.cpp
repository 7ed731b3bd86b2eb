// The configuration manager's device tree: the host's serial ports found
// once per machine root, and the root-enumerated ports' nodes kept up to
// date whenever a program opens the tree.
#include <map>

#include "registry/device_tree.h"
#include "registry_test_util.h"
#include "test_support.h"

namespace kolm::test {
namespace {

using platform::Hive;
using platform::RegKeyNode;

// Each node of the tree as HardWareKey -> Allocation bytes.
std::map<std::string, std::vector<BYTE>> open_tree()
{
    std::map<std::string, std::vector<BYTE>> nodes;
    Key tree;
    if (RegOpenKeyExA(HKEY_DYN_DATA, "Config Manager\\Enum", 0, KEY_READ, tree.out()) != ERROR_SUCCESS)
        return nodes;
    for (const auto& name : subkey_names(tree)) {
        Key node;
        EXPECT_EQ(RegOpenKeyExA(tree, name.c_str(), 0, KEY_READ, node.out()), ERROR_SUCCESS);
        DWORD type = 0;
        std::vector<BYTE> hw, alloc;
        EXPECT_EQ(read_value(node, "HardWareKey", type, hw), ERROR_SUCCESS) << name;
        EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
        read_value(node, "Allocation", type, alloc);
        nodes[std::string(hw.begin(), hw.end() - 1)] = alloc;
    }
    return nodes;
}

std::string string_at(const char* path, const char* name)
{
    Key k;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, k.out()) != ERROR_SUCCESS)
        return "<no key>";
    DWORD type = 0;
    std::vector<BYTE> data;
    if (read_value(k, name, type, data) != ERROR_SUCCESS || data.empty())
        return "<no value>";
    return std::string(data.begin(), data.end() - 1);
}

std::vector<BYTE> allocation(WORD start, WORD end)
{
    return platform::io_allocation(start, end);
}

class DeviceTree : public RootedTest {};

TEST_F(DeviceTree, HostPortsOfTheSysfsFolder)
{
    struct Row {
        unsigned n;
        unsigned type;
        const char* port;
    };
    const Row rows[] = {
        {0, 4, "0x3F8"},
        {1, 4, "0x2F8"},
        {2, 0, "0x3E8"},  // no UART there
        {3, 4, "0x0"},    // a UART reached through memory
        {10, 16, "0x2E8"}, // sorted by number, not by name
        {4, 4, "0x10000"}, // beyond the I/O space
        {5, 4, "garbage"},
    };
    for (const auto& r : rows)
        fake_serial_port(root.sysfs_tty(), r.n, r.type, r.port);
    std::filesystem::create_directories(root.sysfs_tty() / "tty0");
    std::filesystem::create_directories(root.sysfs_tty() / "ttyS6"); // no attributes

    const auto ports = platform::scan_host_serial_ports(root.sysfs_tty());
    ASSERT_EQ(ports.size(), 3u);
    EXPECT_EQ(ports[0].index, 0u);
    EXPECT_EQ(ports[0].io_base, 0x3F8);
    EXPECT_EQ(ports[1].index, 1u);
    EXPECT_EQ(ports[1].io_base, 0x2F8);
    EXPECT_EQ(ports[2].index, 10u);
    EXPECT_EQ(ports[2].io_base, 0x2E8);
    EXPECT_TRUE(platform::scan_host_serial_ports(root.path() / "none").empty());
}

TEST_F(DeviceTree, HostPortsAreRegisteredOnceWithNumbersAfterThoseThere)
{
    fake_serial_port(root.sysfs_tty(), 0, 4, "0x3F8");
    fake_serial_port(root.sysfs_tty(), 1, 4, "0x2F8");
    // A class entry there already: the host's come after it.
    Key existing(make_key("System\\CurrentControlSet\\Services\\Class\\Ports\\0004"));

    auto nodes = open_tree();
    ASSERT_EQ(nodes.size(), 2u);
    EXPECT_EQ(nodes["BIOS\\*PNP0501\\0000"], allocation(0x3F8, 0x3FF));
    EXPECT_EQ(nodes["BIOS\\*PNP0501\\0001"], allocation(0x2F8, 0x2FF));
    EXPECT_EQ(string_at("Enum\\BIOS\\*PNP0501\\0000", "PORTNAME"), "COM1");
    EXPECT_EQ(string_at("Enum\\BIOS\\*PNP0501\\0001", "PORTNAME"), "COM2");
    EXPECT_EQ(string_at("Enum\\BIOS\\*PNP0501\\0000", "Driver"), "Ports\\0005");
    EXPECT_EQ(string_at("Enum\\BIOS\\*PNP0501\\0001", "Driver"), "Ports\\0006");
    EXPECT_EQ(string_at("System\\CurrentControlSet\\Services\\Class\\Ports\\0006", "PortDriver"), "serial.vxd");
    Key root_enum;
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Enum\\Root", 0, KEY_READ, root_enum.out()), ERROR_SUCCESS);

    // Later opens find them again and add nothing, even with a new port on
    // the host or after the tree was taken away.
    fake_serial_port(root.sysfs_tty(), 2, 4, "0x3E8");
    EXPECT_EQ(open_tree().size(), 2u);
    ASSERT_EQ(RegDeleteKeyA(HKEY_DYN_DATA, "Config Manager\\Enum"), ERROR_SUCCESS);
    EXPECT_TRUE(open_tree().empty());
    Key classes;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "System\\CurrentControlSet\\Services\\Class\\Ports", 0, KEY_READ,
                            classes.out()),
              ERROR_SUCCESS);
    EXPECT_EQ(subkey_names(classes), (std::vector<std::string>{"0004", "0005", "0006"}));
}

TEST_F(DeviceTree, RootEnumeratedPortsFollowTheirEntries)
{
    const std::vector<BYTE> forced = allocation(0x3E8, 0x3EF);
    Key one(make_key("Enum\\Root\\Ports\\0001"));
    ASSERT_EQ(RegSetValueExA(one, "ForcedConfig", 0, REG_BINARY, forced.data(), 44), ERROR_SUCCESS);
    Key two(make_key("Enum\\Root\\Ports\\0002")); // no ForcedConfig: no allocation

    auto nodes = open_tree();
    ASSERT_EQ(nodes.size(), 2u);
    EXPECT_EQ(nodes["Root\\Ports\\0001"], forced);
    EXPECT_TRUE(nodes["Root\\Ports\\0002"].empty());

    // A changed configuration, a new one and a removed entry show at the
    // next open; the nodes of other enumerators stay as they are.
    const std::vector<BYTE> moved = allocation(0x2E8, 0x2EF);
    ASSERT_EQ(RegSetValueExA(one, "ForcedConfig", 0, REG_BINARY, moved.data(), 44), ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExA(two, "ForcedConfig", 0, REG_BINARY, forced.data(), 44), ERROR_SUCCESS);
    Key bios(make_key("Config Manager\\Enum\\C1", HKEY_DYN_DATA));
    const BYTE hw[] = "BIOS\\*PNP0501\\0D";
    ASSERT_EQ(RegSetValueExA(bios, "HardWareKey", 0, REG_SZ, hw, sizeof hw), ERROR_SUCCESS);
    nodes = open_tree();
    EXPECT_EQ(nodes.size(), 3u);
    EXPECT_EQ(nodes["Root\\Ports\\0001"], moved);
    EXPECT_EQ(nodes["Root\\Ports\\0002"], forced);
    EXPECT_TRUE(nodes.count("BIOS\\*PNP0501\\0D"));

    ASSERT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, "Enum\\Root\\Ports\\0001"), ERROR_SUCCESS);
    nodes = open_tree();
    EXPECT_EQ(nodes.size(), 2u);
    EXPECT_FALSE(nodes.count("Root\\Ports\\0001"));

    // Only opening the tree itself refreshes it; so does reading it whole.
    Key three(make_key("Enum\\Root\\Ports\\0003"));
    Key node;
    EXPECT_EQ(RegOpenKeyExA(HKEY_DYN_DATA, "Config Manager", 0, KEY_READ, node.out()), ERROR_SUCCESS);
    RegKeyNode tree;
    ASSERT_EQ(platform::read_registry_tree(Hive::DynData, "Config Manager", tree), ERROR_SUCCESS);
    ASSERT_EQ(tree.subkeys.size(), 1u);
    EXPECT_EQ(tree.subkeys[0].subkeys.size(), 2u);
    ASSERT_EQ(platform::read_registry_tree(Hive::DynData, "config manager\\enum", tree), ERROR_SUCCESS);
    EXPECT_EQ(tree.subkeys.size(), 3u);
}

} // namespace
} // namespace kolm::test
