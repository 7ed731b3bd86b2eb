// Whole-tree access to the registry for tools (kolmreg): a consistent
// snapshot of a subtree, and a list of edits applied as one transaction.
// Programs use the Win32 functions instead.
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "win32/types.h"

namespace kolm::platform {

enum class Hive { LocalMachine, DynData };

// "HKEY_LOCAL_MACHINE" or "HKEY_DYN_DATA".
std::string_view hive_name(Hive hive);

struct RegValue {
    std::string name; // empty: the default value
    DWORD type = 0;
    std::vector<BYTE> data;
};

struct RegKeyNode {
    std::string name; // as stored (for the top node: the last path component, or the hive name)
    std::vector<RegValue> values;    // in enumeration order
    std::vector<RegKeyNode> subkeys; // in enumeration order
};

// Reads the key at `path` below the hive root with all its values and
// subkeys, from one snapshot of the current machine root's registry.
// `stored_path` receives the path with each component as stored.
// ERROR_FILE_NOT_FOUND when the key does not exist.
LONG read_registry_tree(Hive hive, std::string_view path, RegKeyNode& out,
                        std::string* stored_path = nullptr);

struct RegEdit {
    enum class Kind {
        CreateKey,   // creates the key and any missing parents
        DeleteKey,   // deletes the key and its subtree; a missing key is no error
        SetValue,    // creates the key when missing, then sets the value
        DeleteValue, // a missing key or value is no error
        DeleteAllValues, // every value of the key, subkeys kept; the key must exist
    };
    Kind kind = Kind::CreateKey;
    Hive hive = Hive::LocalMachine;
    std::string path;
    std::string name;
    DWORD type = 0;
    std::vector<BYTE> data;
};

// Applies every edit, in order, in one transaction: either all take effect
// or none. On failure `failed_index` (when given) receives the index of the
// edit that failed.
LONG apply_registry_edits(std::span<const RegEdit> edits, size_t* failed_index = nullptr);

} // namespace kolm::platform
