// The Windows 95 configuration manager's device tree, as this machine
// keeps it in the registry:
//
//   HKEY_DYN_DATA\Config Manager\Enum\<node>   one key per device node:
//       "HardWareKey"  REG_SZ, the device's key below HKLM\Enum
//       "Allocation"   REG_BINARY, the resources the device was given
//
// The first time a program opens the tree on a machine root, the host's
// serial ports are detected, as Windows 95 does at its first start: each
// ttySn with a UART becomes COM<n+1>, with a device key under
// HKLM\Enum\BIOS\*PNP0501, a Ports class entry under
// HKLM\System\CurrentControlSet\Services\Class\Ports (both numbered 0000,
// 0001, ... after any there already) and a node whose "Allocation" gives
// its I/O range in the layout with selector 0. The branches every Windows
// 95 registry has (Enum\Root, the Ports class, the tree itself) are made
// then too.
//
// Every time a program opens HKEY_DYN_DATA\Config Manager\Enum (by that
// path from the hive), the root-enumerated ports, HKLM\Enum\Root\Ports\NNNN,
// get their nodes: "HardWareKey" "Root\Ports\NNNN" and "Allocation" a copy
// of the entry's "ForcedConfig" (none without one); nodes of entries that
// are gone go too. Windows 95 does this at its next start; here it happens
// at once, so a second installer run finds the first installation.
//
// KOLM_SYSFS_TTY names the folder scanned for serial ports instead of
// /sys/class/tty (tests point it at a tree of their own).
#pragma once

#include <filesystem>
#include <span>
#include <string>
#include <vector>

#include "kolm/registry_tree.h"
#include "win32/types.h"

namespace kolm::platform {

inline constexpr char k_device_tree_path[] = "Config Manager\\Enum";
inline constexpr char k_root_ports_path[] = "Enum\\Root\\Ports";
inline constexpr char k_ports_class_path[] = "System\\CurrentControlSet\\Services\\Class\\Ports";
inline constexpr char k_bios_serial_path[] = "Enum\\BIOS\\*PNP0501";

struct HostSerialPort {
    unsigned index = 0; // n of ttySn: the port is COM<n+1>
    WORD io_base = 0;   // first I/O port; the UART takes eight
};

// KOLM_SYSFS_TTY when set, else /sys/class/tty.
std::filesystem::path host_tty_dir();

// The ttySn entries of `tty_dir` whose "type" is not 0 and whose "port" is
// an I/O base of 1 to 0xFFF8, ordered by n. Anything else is passed over.
std::vector<HostSerialPort> scan_host_serial_ports(const std::filesystem::path& tty_dir);

// An I/O allocation in the layout with selector 0 (start and end at byte
// offsets 20 and 22), 44 bytes.
std::vector<BYTE> io_allocation(WORD start, WORD end);

// True for the components of "Config Manager\Enum" (any case).
bool is_device_tree_path(std::span<const std::string> path);

// What the configuration manager sees of the registry. Nodes missing from
// the registry are empty.
struct DeviceRegistry {
    RegKeyNode tree;         // HKEY_DYN_DATA\Config Manager\Enum
    RegKeyNode root_ports;   // HKLM\Enum\Root\Ports
    RegKeyNode port_classes; // HKLM\...\Class\Ports
    RegKeyNode bios_serial;  // HKLM\Enum\BIOS\*PNP0501
};

// The edits that register the host's ports on a machine seen for the
// first time.
std::vector<RegEdit> host_port_edits(std::span<const HostSerialPort> ports, const DeviceRegistry& now);

// The edits that bring the nodes of the root-enumerated ports up to date.
std::vector<RegEdit> root_port_node_edits(const DeviceRegistry& now);

} // namespace kolm::platform
