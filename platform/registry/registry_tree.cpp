#include "kolm/registry_tree.h"

#include "registry/device_tree.h"
#include "registry/key_handles.h"
#include "kolm/key_path.h"

namespace kolm::platform {

std::string_view hive_name(Hive hive)
{
    return hive == Hive::LocalMachine ? "HKEY_LOCAL_MACHINE" : "HKEY_DYN_DATA";
}

LONG read_registry_tree(Hive hive, std::string_view path, RegKeyNode& out, std::string* stored_path)
{
    std::vector<std::string> components;
    if (const LONG st = split_key_path(path, components); st != ERROR_SUCCESS)
        return st;
    auto store = current_store();
    if (!store.has_value())
        return store.error();
    const KeyId root = hive == Hive::LocalMachine ? RegistryStore::k_local_machine
                                                  : RegistryStore::k_dyn_data;
    if (hive == Hive::DynData && is_device_tree_path(components))
        store.value()->refresh_device_tree();
    std::string stored;
    const LONG st = store.value()->read_tree(root, components, out, stored);
    if (st == ERROR_SUCCESS && components.empty())
        out.name = hive_name(hive);
    if (st == ERROR_SUCCESS && stored_path)
        *stored_path = stored;
    return st;
}

LONG apply_registry_edits(std::span<const RegEdit> edits, size_t* failed_index)
{
    auto store = current_store();
    if (!store.has_value())
        return store.error();
    return store.value()->apply_edits(edits, failed_index);
}

} // namespace kolm::platform
