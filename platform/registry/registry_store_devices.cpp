// The configuration manager's refresh of the device tree, as one
// transaction of RegistryStore (see device_tree.h).
#include <sqlite3.h>
#include <tuple>

#include "registry/device_tree.h"
#include "kolm/key_path.h"
#include "registry/registry_store.h"

namespace kolm::platform {

namespace {

constexpr const char* k_detected = "host ports detected";

} // namespace

LONG RegistryStore::read_path_tx(KeyId root, std::string_view path, RegKeyNode& out)
{
    out = RegKeyNode{};
    std::vector<std::string> components;
    if (const LONG st = split_key_path(path, components); st != ERROR_SUCCESS)
        return st;
    auto key = walk_tx(root, components);
    if (!key.has_value())
        return key.error() == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : key.error();
    return read_node_tx(key.value(), out, components.size());
}

RegResult<bool> RegistryStore::hardware_detected_tx()
{
    Statement st(m_db, "SELECT value FROM machine_state WHERE name = ?1");
    const int rc = st.bind_text(1, k_detected).step();
    if (rc == SQLITE_ROW)
        return st.column_int(0) != 0;
    if (rc != SQLITE_DONE)
        return RegFailure { registry_error_from_sqlite(rc) };
    return false;
}

LONG RegistryStore::refresh_device_tree()
{
    std::lock_guard lock(m_mutex);
    Transaction tx(m_db, Transaction::Mode::Write);
    if (tx.status() != ERROR_SUCCESS)
        return tx.status();

    DeviceRegistry now;
    auto read_all = [&]() -> LONG {
        for (const auto& [root, path, node] :
             {std::tuple{k_dyn_data, k_device_tree_path, &now.tree},
              std::tuple{k_local_machine, k_root_ports_path, &now.root_ports},
              std::tuple{k_local_machine, k_ports_class_path, &now.port_classes},
              std::tuple{k_local_machine, k_bios_serial_path, &now.bios_serial}}) {
            if (const LONG st = read_path_tx(root, path, *node); st != ERROR_SUCCESS)
                return st;
        }
        return ERROR_SUCCESS;
    };
    auto apply = [&](const std::vector<RegEdit>& edits) -> LONG {
        for (const auto& edit : edits) {
            if (const LONG st = apply_one_tx(edit); st != ERROR_SUCCESS)
                return st;
        }
        return ERROR_SUCCESS;
    };

    if (const LONG st = read_all(); st != ERROR_SUCCESS)
        return st;
    auto detected = hardware_detected_tx();
    if (!detected.has_value())
        return detected.error();
    if (!detected.value()) {
        const auto ports = scan_host_serial_ports(host_tty_dir());
        if (const LONG st = apply(host_port_edits(ports, now)); st != ERROR_SUCCESS)
            return st;
        Statement mark(m_db, "INSERT OR REPLACE INTO machine_state(name, value) VALUES (?1, 1)");
        if (const int rc = mark.bind_text(1, k_detected).step(); rc != SQLITE_DONE)
            return registry_error_from_sqlite(rc);
        if (const LONG st = read_all(); st != ERROR_SUCCESS)
            return st;
    }
    if (const LONG st = apply(root_port_node_edits(now)); st != ERROR_SUCCESS)
        return st;
    return tx.commit();
}

} // namespace kolm::platform
