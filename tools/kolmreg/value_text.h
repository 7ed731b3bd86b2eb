// Key names and value data as kolmreg's command line shows and takes them.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "kolm/registry_tree.h"

namespace kolm::kolmreg {

struct KeyName {
    platform::Hive hive = platform::Hive::LocalMachine;
    std::string path; // below the hive root, as typed
};

// "HKLM\SOFTWARE\X", "HKEY_LOCAL_MACHINE", "HKDD\..." or "HKEY_DYN_DATA\...",
// roots in any case. Nothing for any other root.
std::optional<KeyName> parse_key_name(std::string_view text);

// "HKEY_LOCAL_MACHINE" or "HKEY_LOCAL_MACHINE\path".
std::string full_key_name(platform::Hive hive, std::string_view path);

// "REG_SZ", "REG_DWORD", ...; an unnamed type as its number, "0x1234".
std::string type_name(DWORD type);
// The type for a name as /t takes it; nothing for an unknown name.
std::optional<DWORD> type_from_name(std::string_view name);

// The data as query prints it: strings up to their NUL, REG_MULTI_SZ joined
// with "\0", REG_DWORD as 0x%x, binary and anything else as upper-case hex.
std::string display_data(DWORD type, const std::vector<BYTE>& data);

// The bytes /d DATA stands for with type `type`: strings with their NUL,
// REG_MULTI_SZ items separated by "\0" in DATA, REG_DWORD in decimal or 0x
// hex, binary types as hex digits. Nothing when DATA does not fit the type.
std::optional<std::vector<BYTE>> data_from_text(DWORD type, std::string_view text);

} // namespace kolm::kolmreg
