#include "registry/device_tree.h"
#include "internal/nocase.h"

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <fstream>
#include <map>
#include <set>
#include <string_view>

#include "kolm/key_path.h"
#include "win32/registry.h"

namespace kolm::platform {

namespace {

namespace fs = std::filesystem;

constexpr std::string_view k_root_ports_prefix = "Root\\Ports\\";

// A whole unsigned number in the given base; false for anything else.
bool parse_number(std::string_view text, int base, unsigned long& out)
{
    if (base == 16 && text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X'))
        text.remove_prefix(2);
    if (text.empty())
        return false;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out, base);
    return ec == std::errc() && end == text.data() + text.size();
}

// The first line of a sysfs attribute, without its line end.
bool read_attribute(const fs::path& file, std::string& out)
{
    std::ifstream in(file);
    return in && std::getline(in, out);
}

const RegValue* find_value(const RegKeyNode& node, std::string_view name)
{
    const std::string folded = fold_name(name);
    for (const auto& v : node.values) {
        if (fold_name(v.name) == folded)
            return &v;
    }
    return nullptr;
}

// The text of a string value, up to its NUL.
std::string value_text(const RegValue& v)
{
    std::string s(v.data.begin(), v.data.end());
    return s.substr(0, s.find('\0'));
}

std::vector<BYTE> sz(std::string_view text)
{
    std::vector<BYTE> data(text.begin(), text.end());
    data.push_back(0);
    return data;
}

RegEdit set_sz(Hive hive, std::string path, const char* name, std::string_view text)
{
    return RegEdit{RegEdit::Kind::SetValue, hive, std::move(path), name, REG_SZ, sz(text)};
}

// The next of the four-digit names 0000, 0001, ...: one past the largest
// number among `existing`, or 0000 when none is numbered.
std::string next_numbered_name(const std::set<unsigned long>& taken)
{
    const unsigned long next = taken.empty() ? 0 : *taken.rbegin() + 1;
    char name[24];
    std::snprintf(name, sizeof name, "%04lu", next);
    return name;
}

std::set<unsigned long> numbers_of(const RegKeyNode& parent)
{
    std::set<unsigned long> numbers;
    for (const auto& sub : parent.subkeys) {
        unsigned long n = 0;
        if (sub.name.size() <= 9 && parse_number(sub.name, 10, n))
            numbers.insert(n);
    }
    return numbers;
}

// Node names look like the configuration manager's own: "C" and seven hex
// digits, never one the tree already has.
class NodeNames {
public:
    explicit NodeNames(const RegKeyNode& tree)
    {
        for (const auto& sub : tree.subkeys)
            m_taken.insert(fold_name(sub.name));
    }
    std::string next()
    {
        for (;;) {
            char name[16];
            std::snprintf(name, sizeof name, "C%07X", m_counter);
            m_counter += 0x20;
            if (m_taken.insert(name).second)
                return name;
        }
    }

private:
    std::set<std::string> m_taken;
    unsigned m_counter = 0x2A00000;
};

} // namespace

fs::path host_tty_dir()
{
    if (const char* env = std::getenv("KOLM_SYSFS_TTY"); env && *env)
        return env;
    return "/sys/class/tty";
}

std::vector<HostSerialPort> scan_host_serial_ports(const fs::path& tty_dir)
{
    std::vector<HostSerialPort> ports;
    std::error_code ec;
    for (auto it = fs::directory_iterator(tty_dir, ec); !ec && it != fs::directory_iterator(); it.increment(ec)) {
        const std::string name = it->path().filename().string();
        unsigned long index = 0;
        if (name.rfind("ttyS", 0) != 0 || name.size() > 8 || !parse_number(std::string_view(name).substr(4), 10, index))
            continue;
        std::string type, port;
        unsigned long type_number = 0, base = 0;
        if (!read_attribute(it->path() / "type", type) || !parse_number(type, 10, type_number) || type_number == 0)
            continue;
        // NOTE: a UART reached through memory rather than I/O ports reads
        // "port" 0; a PC of this kind has no such port.
        if (!read_attribute(it->path() / "port", port) || !parse_number(port, 16, base) || base == 0
            || base > 0xFFF8)
            continue;
        ports.push_back(HostSerialPort{static_cast<unsigned>(index), static_cast<WORD>(base)});
    }
    std::sort(ports.begin(), ports.end(), [](const auto& a, const auto& b) { return a.index < b.index; });
    return ports;
}

std::vector<BYTE> io_allocation(WORD start, WORD end)
{
    std::vector<BYTE> a = {
        0x00, 0x04, 0x00, 0x00, // format version 0x400
        0x00, 0x00, 0x00, 0x00, // priority 0: the layout with selector 0
        0x20, 0x00, 0x00, 0x00, // descriptor size 32
        0x02, 0x00, 0x00, 0x00, // resource type 2: I/O ports
        0x01, 0x00, 0x02, 0x00, // one range, descriptor type 2
        0x00, 0x00, 0x00, 0x00, // allocated start and end (below)
        0x00, 0x00, 0x00, 0x00, // flags, alias, decode
        0xF8, 0xFF, 0x08, 0x00, // range: alignment, eight ports
        0x00, 0x00, 0x00, 0x00, // range: minimum and maximum (below)
        0x00, 0x00, 0x00, 0x00, // range flags, alias, decode
        0x00, 0x00, 0x00, 0x00, // end of list
    };
    auto put = [&a](size_t at, WORD v) {
        a[at] = static_cast<BYTE>(v & 0xFF);
        a[at + 1] = static_cast<BYTE>(v >> 8);
    };
    put(20, start);
    put(22, end);
    put(32, start);
    put(34, start);
    return a;
}

bool is_device_tree_path(std::span<const std::string> path)
{
    return path.size() == 2 && fold_name(path[0]) == "CONFIG MANAGER" && fold_name(path[1]) == "ENUM";
}

std::vector<RegEdit> host_port_edits(std::span<const HostSerialPort> ports, const DeviceRegistry& now)
{
    using Kind = RegEdit::Kind;
    std::vector<RegEdit> edits = {
        RegEdit{Kind::CreateKey, Hive::LocalMachine, "Enum\\Root", "", 0, {}},
        RegEdit{Kind::CreateKey, Hive::LocalMachine, k_ports_class_path, "", 0, {}},
        RegEdit{Kind::CreateKey, Hive::DynData, k_device_tree_path, "", 0, {}},
    };
    auto classes = numbers_of(now.port_classes);
    auto devices = numbers_of(now.bios_serial);
    NodeNames nodes(now.tree);
    for (const auto& port : ports) {
        const std::string com = "COM" + std::to_string(port.index + 1);
        const std::string slot = next_numbered_name(classes);
        classes.insert(std::strtoul(slot.c_str(), nullptr, 10));
        const std::string device = next_numbered_name(devices);
        devices.insert(std::strtoul(device.c_str(), nullptr, 10));

        const std::string class_key = std::string(k_ports_class_path) + "\\" + slot;
        edits.push_back(set_sz(Hive::LocalMachine, class_key, "DevLoader", "*vcomm"));
        edits.push_back(set_sz(Hive::LocalMachine, class_key, "DriverDesc", "Communications Port"));
        edits.push_back(set_sz(Hive::LocalMachine, class_key, "PortDriver", "serial.vxd"));
        edits.push_back(RegEdit{Kind::SetValue, Hive::LocalMachine, class_key, "PortSubClass", REG_BINARY, {0x01}});

        const std::string hardware_key = std::string(k_bios_serial_path).substr(5) + "\\" + device;
        const std::string device_key = "Enum\\" + hardware_key;
        edits.push_back(set_sz(Hive::LocalMachine, device_key, "Class", "Ports"));
        edits.push_back(set_sz(Hive::LocalMachine, device_key, "HardwareID", "*PNP0501"));
        edits.push_back(set_sz(Hive::LocalMachine, device_key, "Mfg", "(Standard port types)"));
        edits.push_back(set_sz(Hive::LocalMachine, device_key, "Driver", "Ports\\" + slot));
        edits.push_back(set_sz(Hive::LocalMachine, device_key, "DeviceDesc", "Communications Port"));
        edits.push_back(set_sz(Hive::LocalMachine, device_key, "FRIENDLYNAME", "Communications Port (" + com + ")"));
        edits.push_back(set_sz(Hive::LocalMachine, device_key, "PORTNAME", com));

        const std::string node = std::string(k_device_tree_path) + "\\" + nodes.next();
        edits.push_back(set_sz(Hive::DynData, node, "HardWareKey", hardware_key));
        edits.push_back(RegEdit{Kind::SetValue, Hive::DynData, node, "Allocation", REG_BINARY,
                                io_allocation(port.io_base, static_cast<WORD>(port.io_base + 7))});
    }
    return edits;
}

std::vector<RegEdit> root_port_node_edits(const DeviceRegistry& now)
{
    using Kind = RegEdit::Kind;
    std::vector<RegEdit> edits = {RegEdit{Kind::CreateKey, Hive::DynData, k_device_tree_path, "", 0, {}}};

    // The nodes this step keeps: those of a port entry directly below
    // Root\Ports, by the entry's folded name.
    std::map<std::string, const RegKeyNode*> nodes;
    for (const auto& node : now.tree.subkeys) {
        const RegValue* hw = find_value(node, "HardWareKey");
        if (!hw)
            continue;
        const std::string key = value_text(*hw);
        if (!starts_with_nocase(key, k_root_ports_prefix))
            continue;
        const std::string entry = key.substr(k_root_ports_prefix.size());
        if (!entry.empty() && entry.find('\\') == std::string::npos)
            nodes.emplace(fold_name(entry), &node);
    }

    NodeNames names(now.tree);
    for (const auto& port : now.root_ports.subkeys) {
        const RegValue* forced = find_value(port, "ForcedConfig");
        const auto found = nodes.find(fold_name(port.name));
        std::string node_path;
        const RegValue* allocation = nullptr;
        if (found == nodes.end()) {
            node_path = std::string(k_device_tree_path) + "\\" + names.next();
            edits.push_back(set_sz(Hive::DynData, node_path, "HardWareKey", std::string(k_root_ports_prefix) + port.name));
        } else {
            node_path = std::string(k_device_tree_path) + "\\" + found->second->name;
            allocation = find_value(*found->second, "Allocation");
            nodes.erase(found);
        }
        if (forced && (!allocation || allocation->data != forced->data || allocation->type != REG_BINARY))
            edits.push_back(RegEdit{Kind::SetValue, Hive::DynData, node_path, "Allocation", REG_BINARY, forced->data});
        else if (!forced && allocation)
            edits.push_back(RegEdit{Kind::DeleteValue, Hive::DynData, node_path, "Allocation", 0, {}});
    }
    // Entries that are gone take their nodes with them.
    for (const auto& [entry, node] : nodes)
        edits.push_back(RegEdit{Kind::DeleteKey, Hive::DynData, std::string(k_device_tree_path) + "\\" + node->name,
                                "", 0, {}});
    return edits;
}

} // namespace kolm::platform
