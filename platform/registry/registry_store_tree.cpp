// Whole-subtree reads and batched edits of RegistryStore, for tools.
#include <sqlite3.h>

#include "kolm/key_path.h"
#include "registry/registry_store.h"

namespace kolm::platform {

LONG RegistryStore::read_node_tx(KeyId key, RegKeyNode& node, size_t depth)
{
    // Creation bounds the depth of the tree; a deeper one is a damaged file.
    if (depth > k_max_key_depth + 1)
        return ERROR_REGISTRY_CORRUPT;
    {
        Statement st(m_db, "SELECT name, type, data FROM reg_values WHERE key = ?1 ORDER BY fold");
        st.bind(1, key);
        int rc;
        while ((rc = st.step()) == SQLITE_ROW)
            node.values.push_back(
                RegValue{st.column_text(0), static_cast<DWORD>(st.column_int(1)), st.column_blob(2)});
        if (rc != SQLITE_DONE)
            return registry_error_from_sqlite(rc);
    }
    std::vector<KeyId> children;
    {
        Statement st(m_db, "SELECT id, name FROM keys WHERE parent = ?1 ORDER BY fold");
        st.bind(1, key);
        int rc;
        while ((rc = st.step()) == SQLITE_ROW) {
            children.push_back(st.column_int(0));
            node.subkeys.push_back(RegKeyNode{st.column_text(1), {}, {}});
        }
        if (rc != SQLITE_DONE)
            return registry_error_from_sqlite(rc);
    }
    // NOTE: the statements above are closed before recursing: a cached
    // statement serves one caller at a time.
    for (size_t i = 0; i < children.size(); ++i) {
        if (const LONG st = read_node_tx(children[i], node.subkeys[i], depth + 1); st != ERROR_SUCCESS)
            return st;
    }
    return ERROR_SUCCESS;
}

LONG RegistryStore::read_tree(KeyId base, std::span<const std::string> path, RegKeyNode& out,
                              std::string& stored_path)
{
    std::lock_guard lock(m_mutex);
    Transaction tx(m_db, Transaction::Mode::Read);
    if (tx.status() != ERROR_SUCCESS)
        return tx.status();
    if (const LONG st = exists_tx(base); st != ERROR_SUCCESS)
        return st;

    KeyId id = base;
    stored_path.clear();
    out = RegKeyNode{};
    for (const auto& component : path) {
        Statement st(m_db, "SELECT id, name FROM keys WHERE parent = ?1 AND fold = ?2");
        const int rc = st.bind(1, id).bind_text(2, fold_name(component)).step();
        if (rc != SQLITE_ROW)
            return rc == SQLITE_DONE ? ERROR_FILE_NOT_FOUND : registry_error_from_sqlite(rc);
        id = st.column_int(0);
        out.name = st.column_text(1);
        if (!stored_path.empty())
            stored_path += '\\';
        stored_path += out.name;
    }
    return read_node_tx(id, out, path.size());
}

LONG RegistryStore::apply_one_tx(const RegEdit& edit)
{
    const KeyId root = edit.hive == Hive::LocalMachine ? k_local_machine : k_dyn_data;
    std::vector<std::string> path;
    if (const LONG st = split_key_path(edit.path, path); st != ERROR_SUCCESS)
        return st;

    switch (edit.kind) {
    case RegEdit::Kind::CreateKey:
        return create_tx(root, path, true).error();
    case RegEdit::Kind::SetValue: {
        auto key = create_tx(root, path, true);
        if (!key.has_value())
            return key.error();
        return set_value_tx(key.value().id, edit.name, edit.type, edit.data);
    }
    case RegEdit::Kind::DeleteKey: {
        auto key = walk_tx(root, path);
        if (!key.has_value())
            return key.error() == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : key.error();
        return delete_tree_tx(key.value());
    }
    case RegEdit::Kind::DeleteValue: {
        auto key = walk_tx(root, path);
        if (!key.has_value())
            return key.error() == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : key.error();
        const LONG st = delete_value_tx(key.value(), edit.name);
        return st == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : st;
    }
    case RegEdit::Kind::DeleteAllValues: {
        auto key = walk_tx(root, path);
        if (!key.has_value())
            return key.error();
        Statement st(m_db, "DELETE FROM reg_values WHERE key = ?1");
        const int rc = st.bind(1, key.value()).step();
        if (rc != SQLITE_DONE)
            return registry_error_from_sqlite(rc);
        return touch_tx(key.value());
    }
    }
    return ERROR_INVALID_PARAMETER;
}

LONG RegistryStore::apply_edits(std::span<const RegEdit> edits, size_t* failed_index)
{
    std::lock_guard lock(m_mutex);
    Transaction tx(m_db, Transaction::Mode::Write);
    if (tx.status() != ERROR_SUCCESS)
        return tx.status();
    for (size_t i = 0; i < edits.size(); ++i) {
        if (const LONG st = apply_one_tx(edits[i]); st != ERROR_SUCCESS) {
            if (failed_index)
                *failed_index = i;
            return st;
        }
    }
    if (const LONG st = tx.commit(); st != ERROR_SUCCESS) {
        if (failed_index)
            *failed_index = edits.size();
        return st;
    }
    return ERROR_SUCCESS;
}

} // namespace kolm::platform
