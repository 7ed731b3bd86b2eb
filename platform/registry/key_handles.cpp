#include "registry/key_handles.h"

#include <map>
#include <mutex>
#include <string>
#include <unistd.h>

#include "internal/machine_root.h"
#include "internal/process_lifetime.h"
#include "win32/registry.h"
#include "internal/system.h"

namespace kolm::platform {

namespace {

// Handle values: multiples of 4 below the predefined keys (0x80000000 and
// up), so a value never looks like a predefined key or a null handle.
constexpr DWORD k_first_handle = 0x104;
constexpr DWORD k_last_handle = 0x7FFFFFFC;
constexpr size_t k_max_open_keys = 1u << 20;

struct StoreCache {
    std::mutex mutex;
    std::map<std::string, std::shared_ptr<RegistryStore>> stores;
    pid_t pid = 0;
};

struct HandleTable {
    std::mutex mutex;
    std::map<DWORD, KeyRef> keys;
    DWORD next = k_first_handle;
};

StoreCache& store_cache()
{
    return process_lifetime<StoreCache>();
}

HandleTable& handle_table()
{
    return process_lifetime<HandleTable>();
}

RegResult<std::shared_ptr<RegistryStore>> store_for_path(const std::filesystem::path& db_path)
{
    auto& cache = store_cache();
    std::lock_guard lock(cache.mutex);

    // A child made by fork must not use its parent's connections: they are
    // dropped unclosed, and the child opens its own.
    if (cache.pid != sys::process_id()) {
        for (auto& [path, store] : cache.stores)
            store->abandon();
        cache.stores.clear();
        cache.pid = sys::process_id();
    }

    const std::string key = db_path.string();
    if (auto it = cache.stores.find(key); it != cache.stores.end())
        return it->second;

    // Tests move from one machine root to the next: close the connections
    // nobody holds any more (only the cache refers to them) before opening
    // another, so a long-lived process does not pile up open databases.
    for (auto it = cache.stores.begin(); it != cache.stores.end();) {
        if (it->second.use_count() == 1)
            it = cache.stores.erase(it);
        else
            ++it;
    }

    auto opened = RegistryStore::open(db_path);
    if (!opened.has_value())
        return RegFailure { opened.error() };
    cache.stores.emplace(key, opened.value());
    return opened;
}

bool is_supported_hive(DWORD v)
{
    return v == HandleToDword(HKEY_LOCAL_MACHINE) || v == HandleToDword(HKEY_DYN_DATA);
}

} // namespace

bool is_predefined_key(HKEY key)
{
    return HandleToDword(key) >= 0x80000000u && HandleToDword(key) <= 0x80000006u;
}

RegResult<std::shared_ptr<RegistryStore>> current_store()
{
    return store_for_path(machine_root() / "registry.db");
}

RegResult<KeyRef> resolve_key(HKEY key)
{
    const DWORD v = HandleToDword(key);
    if (is_supported_hive(v)) {
        auto store = current_store();
        if (!store.has_value())
            return RegFailure { store.error() };
        const KeyId root = key == HKEY_LOCAL_MACHINE ? RegistryStore::k_local_machine
                                                     : RegistryStore::k_dyn_data;
        return KeyRef{store.value(), root, KEY_ALL_ACCESS};
    }

    std::shared_ptr<RegistryStore> inherited;
    KeyRef ref;
    {
        auto& table = handle_table();
        std::lock_guard lock(table.mutex);
        auto it = table.keys.find(v);
        if (it == table.keys.end())
            return RegFailure { ERROR_INVALID_HANDLE };
        if (it->second.store->owned_by_this_process())
            return it->second;
        ref = it->second;
    }
    // A handle inherited across fork: rebind it to this process's own
    // connection to the same database.
    auto store = store_for_path(ref.store->path());
    if (!store.has_value())
        return RegFailure { store.error() };
    ref.store = store.value();
    auto& table = handle_table();
    std::lock_guard lock(table.mutex);
    if (auto it = table.keys.find(v); it != table.keys.end())
        it->second.store = ref.store;
    return ref;
}

RegResult<HKEY> add_key_handle(KeyRef ref)
{
    auto& table = handle_table();
    std::lock_guard lock(table.mutex);
    if (table.keys.size() >= k_max_open_keys)
        return RegFailure { ERROR_NO_SYSTEM_RESOURCES };
    // The table holds far fewer than the values available, so a free value
    // is always found within a few steps past the ones in use.
    while (table.keys.contains(table.next))
        table.next = table.next >= k_last_handle ? k_first_handle : table.next + 4;
    const DWORD v = table.next;
    table.next = v >= k_last_handle ? k_first_handle : v + 4;
    table.keys.emplace(v, std::move(ref));
    return DwordToHandle<HKEY>(v);
}

LONG close_key_handle(HKEY key)
{
    if (is_predefined_key(key))
        return ERROR_SUCCESS;
    std::shared_ptr<RegistryStore> last_ref;
    auto& table = handle_table();
    std::lock_guard lock(table.mutex);
    auto it = table.keys.find(HandleToDword(key));
    if (it == table.keys.end())
        return ERROR_INVALID_HANDLE;
    // NOTE: the store is released after the table lock, below, in case this
    // was its last user and closing the database takes a while.
    last_ref = std::move(it->second.store);
    table.keys.erase(it);
    return ERROR_SUCCESS;
}

} // namespace kolm::platform
