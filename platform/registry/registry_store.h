// The registry database of one machine root: keys and values in SQLite,
// every operation one transaction.
//
// Keys are rows with an id that is never reused (so a handle to a deleted
// key can tell it was deleted, even when a key of the same name is created
// again), a parent id, the name as created and the folded name by which it
// is found and ordered. The two hive roots are fixed rows with parent 0.
//
// One store serves a whole process: the calls of all threads are serialised
// on its mutex, while other processes are kept apart by SQLite's own locks
// (WAL, so readers never wait for the writer; a busy time-out so writers
// queue instead of failing).
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "internal/result.h"
#include "kolm/registry_tree.h"
#include "registry/sqlite_db.h"
#include "win32/types.h"

namespace kolm::platform {

// A result or the registry status that stopped it; error() is
// ERROR_SUCCESS while it holds a value.
template <typename T>
using RegResult = kolm::Result<T, LONG>;
using RegFailure = Failure<LONG>;

using KeyId = int64_t;

struct StoredValue {
    std::string name;
    DWORD type = 0;
    std::vector<BYTE> data;
};

struct SubkeyEntry {
    std::string name;
    int64_t mtime = 0; // FILETIME units
};

struct KeyInfo {
    DWORD subkeys = 0;
    DWORD max_subkey_len = 0;
    DWORD values = 0;
    DWORD max_value_name_len = 0;
    DWORD max_value_len = 0;
    int64_t mtime = 0;
};

struct CreatedKey {
    KeyId id = 0;
    bool created = false;
};

class RegistryStore {
public:
    static constexpr KeyId k_local_machine = 1;
    static constexpr KeyId k_dyn_data = 2;

    // Opens (creating when missing) the database at `db_path`.
    static RegResult<std::shared_ptr<RegistryStore>> open(const std::filesystem::path& db_path);

    ~RegistryStore();
    RegistryStore(const RegistryStore&) = delete;
    RegistryStore& operator=(const RegistryStore&) = delete;

    const std::filesystem::path& path() const { return m_path; }

    // ERROR_SUCCESS while the key exists, else ERROR_KEY_DELETED.
    LONG check_key(KeyId key);

    // Opens `path` (split components) below `base`.
    RegResult<KeyId> open_key(KeyId base, std::span<const std::string> path);
    // Opens or creates `path` below `base`, with any missing parents. When
    // `may_create` is false a missing key gives ERROR_ACCESS_DENIED.
    RegResult<CreatedKey> create_key(KeyId base, std::span<const std::string> path, bool may_create);
    // Deletes the key at `path` below `base` with its subtree.
    LONG delete_key(KeyId base, std::span<const std::string> path);

    RegResult<StoredValue> query_value(KeyId key, std::string_view name);
    LONG set_value(KeyId key, std::string_view name, DWORD type, std::span<const BYTE> data);
    LONG delete_value(KeyId key, std::string_view name);

    // ERROR_NO_MORE_ITEMS past the end.
    RegResult<SubkeyEntry> enum_subkey(KeyId key, DWORD index);
    RegResult<StoredValue> enum_value(KeyId key, DWORD index);
    RegResult<KeyInfo> key_info(KeyId key);

    LONG read_tree(KeyId base, std::span<const std::string> path, RegKeyNode& out,
                   std::string& stored_path);
    LONG apply_edits(std::span<const RegEdit> edits, size_t* failed_index);

    // What the configuration manager does when a program opens its device
    // tree (device_tree.h): detects the host's ports the first time, and
    // brings the nodes of the root-enumerated ports up to date.
    LONG refresh_device_tree();

    // Only the process that opened a store may use its connection: a child
    // made by fork opens its own.
    bool owned_by_this_process() const;
    // Drops the connection without closing it (see Database::abandon).
    void abandon();

private:
    explicit RegistryStore(std::filesystem::path path);
    LONG initialise();

    // The *_tx functions run inside the caller's transaction, mutex held.
    LONG exists_tx(KeyId key);
    RegResult<KeyId> find_child_tx(KeyId parent, std::string_view name);
    RegResult<KeyId> walk_tx(KeyId base, std::span<const std::string> path);
    RegResult<CreatedKey> create_tx(KeyId base, std::span<const std::string> path, bool may_create);
    LONG delete_tree_tx(KeyId key);
    LONG set_value_tx(KeyId key, std::string_view name, DWORD type, std::span<const BYTE> data);
    LONG delete_value_tx(KeyId key, std::string_view name);
    LONG touch_tx(KeyId key);
    LONG read_node_tx(KeyId key, RegKeyNode& node, size_t depth);
    LONG apply_one_tx(const RegEdit& edit);
    // The subtree at `path` below a hive root; empty when it is missing.
    LONG read_path_tx(KeyId root, std::string_view path, RegKeyNode& out);
    RegResult<bool> hardware_detected_tx();

    std::filesystem::path m_path;
    std::mutex m_mutex;
    Database m_db;
    int m_pid = 0;
};

} // namespace kolm::platform
