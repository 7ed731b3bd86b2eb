#include "registry/registry_store.h"

#include <algorithm>
#include <chrono>
#include <sqlite3.h>
#include <unistd.h>

#include "kolm/key_path.h"
#include "internal/system.h"

namespace kolm::platform {

namespace {

// Writers wait this long for another process's transaction before giving up
// with ERROR_BUSY. Transactions here are short; only a stuck process holds
// the lock this long.
constexpr int k_busy_timeout_ms = 10000;

constexpr const char* k_schema = R"sql(
CREATE TABLE IF NOT EXISTS keys(
    id     INTEGER PRIMARY KEY AUTOINCREMENT,
    parent INTEGER NOT NULL,
    name   TEXT NOT NULL,
    fold   TEXT NOT NULL,
    mtime  INTEGER NOT NULL DEFAULT 0,
    UNIQUE(parent, fold));
CREATE TABLE IF NOT EXISTS reg_values(
    key   INTEGER NOT NULL,
    name  TEXT NOT NULL,
    fold  TEXT NOT NULL,
    type  INTEGER NOT NULL,
    data  BLOB NOT NULL,
    PRIMARY KEY(key, fold)) WITHOUT ROWID;
CREATE TABLE IF NOT EXISTS machine_state(
    name  TEXT PRIMARY KEY,
    value INTEGER NOT NULL) WITHOUT ROWID;
INSERT OR IGNORE INTO keys(id, parent, name, fold)
    VALUES (1, 0, 'HKEY_LOCAL_MACHINE', 'HKEY_LOCAL_MACHINE'),
           (2, 0, 'HKEY_DYN_DATA', 'HKEY_DYN_DATA');
PRAGMA user_version = 1;
)sql";

// Now as a FILETIME count: 100 ns units since 1601-01-01 UTC.
int64_t filetime_now()
{
    using namespace std::chrono;
    constexpr int64_t k_1601_to_1970 = 116444736000000000LL;
    const auto ns = duration_cast<nanoseconds>(system_clock::now().time_since_epoch()).count();
    return ns / 100 + k_1601_to_1970;
}

LONG step_done(Statement& st)
{
    const int rc = st.step();
    return rc == SQLITE_DONE || rc == SQLITE_ROW ? ERROR_SUCCESS : registry_error_from_sqlite(rc);
}

} // namespace

RegistryStore::RegistryStore(std::filesystem::path path) : m_path(std::move(path)), m_pid(sys::process_id())
{
}

RegistryStore::~RegistryStore() = default;

RegResult<std::shared_ptr<RegistryStore>> RegistryStore::open(const std::filesystem::path& db_path)
{
    std::shared_ptr<RegistryStore> store(new RegistryStore(db_path));
    if (const LONG st = store->initialise(); st != ERROR_SUCCESS)
        return RegFailure { st };
    return store;
}

LONG RegistryStore::initialise()
{
    if (const int rc = m_db.open(m_path); rc != SQLITE_OK)
        return registry_error_from_sqlite(rc);
    sqlite3_busy_timeout(m_db.handle(), k_busy_timeout_ms);

    // NOTE: journal_mode is sticky in the file; every opener asks for it so
    // a database made by an older tool is converted on first use.
    // Switching takes the file's exclusive lock, and SQLite answers BUSY at
    // once, without the busy handler, while another process opening the
    // same new file holds a lock of its own: ask again, backing off, within
    // the bound any other wait for the file has.
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::milliseconds(k_busy_timeout_ms);
    for (int delay_ms = 1;; delay_ms = std::min(delay_ms * 2, 50)) {
        Statement st(m_db, "PRAGMA journal_mode=WAL");
        const int rc = st.step();
        if (rc == SQLITE_ROW && st.column_text(0) == "wal")
            break;
        if ((rc & 0xff) != SQLITE_BUSY)
            return ERROR_REGISTRY_IO_FAILED;
        if (std::chrono::steady_clock::now() >= give_up)
            return ERROR_BUSY;
        sqlite3_sleep(delay_ms);
    }
    // FULL: each committed call survives a power loss too, not only the
    // death of the process.
    if (const int rc = m_db.exec("PRAGMA synchronous=FULL"); rc != SQLITE_OK)
        return registry_error_from_sqlite(rc);

    Transaction tx(m_db, Transaction::Mode::Write);
    if (tx.status() != ERROR_SUCCESS)
        return tx.status();
    if (const int rc = m_db.exec(k_schema); rc != SQLITE_OK)
        return registry_error_from_sqlite(rc);
    return tx.commit();
}

bool RegistryStore::owned_by_this_process() const
{
    return m_pid == sys::process_id();
}

void RegistryStore::abandon()
{
    m_db.abandon();
}

// --- inside a transaction -------------------------------------------------

LONG RegistryStore::exists_tx(KeyId key)
{
    Statement st(m_db, "SELECT 1 FROM keys WHERE id = ?1");
    const int rc = st.bind(1, key).step();
    if (rc == SQLITE_ROW)
        return ERROR_SUCCESS;
    return rc == SQLITE_DONE ? ERROR_KEY_DELETED : registry_error_from_sqlite(rc);
}

RegResult<KeyId> RegistryStore::find_child_tx(KeyId parent, std::string_view name)
{
    Statement st(m_db, "SELECT id FROM keys WHERE parent = ?1 AND fold = ?2");
    const int rc = st.bind(1, parent).bind_text(2, fold_name(name)).step();
    if (rc == SQLITE_ROW)
        return st.column_int(0);
    return RegFailure { static_cast<LONG>(rc == SQLITE_DONE ? ERROR_FILE_NOT_FOUND : registry_error_from_sqlite(rc)) };
}

RegResult<KeyId> RegistryStore::walk_tx(KeyId base, std::span<const std::string> path)
{
    if (const LONG st = exists_tx(base); st != ERROR_SUCCESS)
        return RegFailure { st };
    KeyId id = base;
    for (const auto& component : path) {
        auto child = find_child_tx(id, component);
        if (!child.has_value())
            return child;
        id = child.value();
    }
    return id;
}

LONG RegistryStore::touch_tx(KeyId key)
{
    Statement st(m_db, "UPDATE keys SET mtime = ?2 WHERE id = ?1");
    return step_done(st.bind(1, key).bind(2, filetime_now()));
}

RegResult<CreatedKey> RegistryStore::create_tx(KeyId base, std::span<const std::string> path,
                                               bool may_create)
{
    if (const LONG st = exists_tx(base); st != ERROR_SUCCESS)
        return RegFailure { st };
    CreatedKey result{base, false};
    for (size_t i = 0; i < path.size(); ++i) {
        auto child = find_child_tx(result.id, path[i]);
        if (child.has_value()) {
            result.id = child.value();
            continue;
        }
        if (child.error() != ERROR_FILE_NOT_FOUND)
            return RegFailure { child.error() };
        if (!may_create)
            return RegFailure { ERROR_ACCESS_DENIED };

        // Bound the depth of the whole tree, not only of this path, so that
        // walking any subtree stays bounded.
        Statement depth(m_db, "WITH RECURSIVE up(id, n) AS (SELECT ?1, 0 UNION ALL "
                              "SELECT k.parent, up.n + 1 FROM keys k JOIN up ON k.id = up.id "
                              "WHERE k.parent != 0) SELECT max(n) FROM up");
        if (depth.bind(1, result.id).step() != SQLITE_ROW)
            return RegFailure { ERROR_REGISTRY_IO_FAILED };
        if (static_cast<size_t>(depth.column_int(0)) + (path.size() - i) > k_max_key_depth)
            return RegFailure { ERROR_INVALID_PARAMETER };

        const int64_t now = filetime_now();
        for (; i < path.size(); ++i) {
            Statement ins(m_db, "INSERT INTO keys(parent, name, fold, mtime) VALUES (?1, ?2, ?3, ?4)");
            const int rc = ins.bind(1, result.id)
                               .bind_text(2, path[i])
                               .bind_text(3, fold_name(path[i]))
                               .bind(4, now)
                               .step();
            if (rc != SQLITE_DONE)
                return RegFailure { registry_error_from_sqlite(rc) };
            if (const LONG st = touch_tx(result.id); st != ERROR_SUCCESS)
                return RegFailure { st };
            result.id = sqlite3_last_insert_rowid(m_db.handle());
        }
        result.created = true;
        break;
    }
    return result;
}

LONG RegistryStore::delete_tree_tx(KeyId key)
{
    Statement parent(m_db, "SELECT parent FROM keys WHERE id = ?1");
    if (parent.bind(1, key).step() != SQLITE_ROW)
        return ERROR_KEY_DELETED;
    const KeyId parent_id = parent.column_int(0);
    if (parent_id == 0)
        return ERROR_ACCESS_DENIED; // a hive root stays

    Statement values(m_db, "WITH RECURSIVE sub(id) AS (SELECT ?1 UNION ALL "
                           "SELECT k.id FROM keys k JOIN sub ON k.parent = sub.id) "
                           "DELETE FROM reg_values WHERE key IN sub");
    if (const LONG st = step_done(values.bind(1, key)); st != ERROR_SUCCESS)
        return st;
    Statement keys(m_db, "WITH RECURSIVE sub(id) AS (SELECT ?1 UNION ALL "
                         "SELECT k.id FROM keys k JOIN sub ON k.parent = sub.id) "
                         "DELETE FROM keys WHERE id IN sub");
    if (const LONG st = step_done(keys.bind(1, key)); st != ERROR_SUCCESS)
        return st;
    return touch_tx(parent_id);
}

LONG RegistryStore::set_value_tx(KeyId key, std::string_view name, DWORD type,
                                 std::span<const BYTE> data)
{
    if (name.size() > k_max_value_name || data.size() > k_max_value_data)
        return ERROR_INVALID_PARAMETER;
    // NOTE: a value set again under another case keeps its first name, as
    // the key's enumeration shows it.
    Statement st(m_db, "INSERT INTO reg_values(key, name, fold, type, data) VALUES (?1, ?2, ?3, ?4, ?5) "
                       "ON CONFLICT(key, fold) DO UPDATE SET type = excluded.type, data = excluded.data");
    const LONG status = step_done(st.bind(1, key)
                                      .bind_text(2, name)
                                      .bind_text(3, fold_name(name))
                                      .bind(4, type)
                                      .bind_blob(5, data));
    return status != ERROR_SUCCESS ? status : touch_tx(key);
}

LONG RegistryStore::delete_value_tx(KeyId key, std::string_view name)
{
    Statement st(m_db, "DELETE FROM reg_values WHERE key = ?1 AND fold = ?2");
    if (const LONG status = step_done(st.bind(1, key).bind_text(2, fold_name(name)));
        status != ERROR_SUCCESS)
        return status;
    if (sqlite3_changes(m_db.handle()) == 0)
        return ERROR_FILE_NOT_FOUND;
    return touch_tx(key);
}

// --- one transaction per call ---------------------------------------------

LONG RegistryStore::check_key(KeyId key)
{
    std::lock_guard lock(m_mutex);
    Transaction tx(m_db, Transaction::Mode::Read);
    if (tx.status() != ERROR_SUCCESS)
        return tx.status();
    return exists_tx(key);
}

RegResult<KeyId> RegistryStore::open_key(KeyId base, std::span<const std::string> path)
{
    std::lock_guard lock(m_mutex);
    Transaction tx(m_db, Transaction::Mode::Read);
    if (tx.status() != ERROR_SUCCESS)
        return RegFailure { tx.status() };
    return walk_tx(base, path);
}

RegResult<CreatedKey> RegistryStore::create_key(KeyId base, std::span<const std::string> path,
                                                bool may_create)
{
    std::lock_guard lock(m_mutex);
    Transaction tx(m_db, Transaction::Mode::Write);
    if (tx.status() != ERROR_SUCCESS)
        return RegFailure { tx.status() };
    auto result = create_tx(base, path, may_create);
    if (!result.has_value())
        return result;
    if (const LONG st = tx.commit(); st != ERROR_SUCCESS)
        return RegFailure { st };
    return result;
}

LONG RegistryStore::delete_key(KeyId base, std::span<const std::string> path)
{
    std::lock_guard lock(m_mutex);
    Transaction tx(m_db, Transaction::Mode::Write);
    if (tx.status() != ERROR_SUCCESS)
        return tx.status();
    auto key = walk_tx(base, path);
    if (!key.has_value())
        return key.error();
    if (const LONG st = delete_tree_tx(key.value()); st != ERROR_SUCCESS)
        return st;
    return tx.commit();
}

RegResult<StoredValue> RegistryStore::query_value(KeyId key, std::string_view name)
{
    std::lock_guard lock(m_mutex);
    Transaction tx(m_db, Transaction::Mode::Read);
    if (tx.status() != ERROR_SUCCESS)
        return RegFailure { tx.status() };
    if (const LONG st = exists_tx(key); st != ERROR_SUCCESS)
        return RegFailure { st };
    Statement st(m_db, "SELECT name, type, data FROM reg_values WHERE key = ?1 AND fold = ?2");
    const int rc = st.bind(1, key).bind_text(2, fold_name(name)).step();
    if (rc != SQLITE_ROW)
        return RegFailure { static_cast<LONG>(rc == SQLITE_DONE ? ERROR_FILE_NOT_FOUND : registry_error_from_sqlite(rc)) };
    return StoredValue{st.column_text(0), static_cast<DWORD>(st.column_int(1)), st.column_blob(2)};
}

LONG RegistryStore::set_value(KeyId key, std::string_view name, DWORD type, std::span<const BYTE> data)
{
    std::lock_guard lock(m_mutex);
    Transaction tx(m_db, Transaction::Mode::Write);
    if (tx.status() != ERROR_SUCCESS)
        return tx.status();
    if (const LONG st = exists_tx(key); st != ERROR_SUCCESS)
        return st;
    if (const LONG st = set_value_tx(key, name, type, data); st != ERROR_SUCCESS)
        return st;
    return tx.commit();
}

LONG RegistryStore::delete_value(KeyId key, std::string_view name)
{
    std::lock_guard lock(m_mutex);
    Transaction tx(m_db, Transaction::Mode::Write);
    if (tx.status() != ERROR_SUCCESS)
        return tx.status();
    if (const LONG st = exists_tx(key); st != ERROR_SUCCESS)
        return st;
    if (const LONG st = delete_value_tx(key, name); st != ERROR_SUCCESS)
        return st;
    return tx.commit();
}

RegResult<SubkeyEntry> RegistryStore::enum_subkey(KeyId key, DWORD index)
{
    std::lock_guard lock(m_mutex);
    Transaction tx(m_db, Transaction::Mode::Read);
    if (tx.status() != ERROR_SUCCESS)
        return RegFailure { tx.status() };
    if (const LONG st = exists_tx(key); st != ERROR_SUCCESS)
        return RegFailure { st };
    Statement st(m_db, "SELECT name, mtime FROM keys WHERE parent = ?1 ORDER BY fold LIMIT 1 OFFSET ?2");
    const int rc = st.bind(1, key).bind(2, index).step();
    if (rc != SQLITE_ROW)
        return RegFailure { static_cast<LONG>(rc == SQLITE_DONE ? ERROR_NO_MORE_ITEMS : registry_error_from_sqlite(rc)) };
    return SubkeyEntry{st.column_text(0), st.column_int(1)};
}

RegResult<StoredValue> RegistryStore::enum_value(KeyId key, DWORD index)
{
    std::lock_guard lock(m_mutex);
    Transaction tx(m_db, Transaction::Mode::Read);
    if (tx.status() != ERROR_SUCCESS)
        return RegFailure { tx.status() };
    if (const LONG st = exists_tx(key); st != ERROR_SUCCESS)
        return RegFailure { st };
    Statement st(m_db, "SELECT name, type, data FROM reg_values WHERE key = ?1 ORDER BY fold LIMIT 1 OFFSET ?2");
    const int rc = st.bind(1, key).bind(2, index).step();
    if (rc != SQLITE_ROW)
        return RegFailure { static_cast<LONG>(rc == SQLITE_DONE ? ERROR_NO_MORE_ITEMS : registry_error_from_sqlite(rc)) };
    return StoredValue{st.column_text(0), static_cast<DWORD>(st.column_int(1)), st.column_blob(2)};
}

RegResult<KeyInfo> RegistryStore::key_info(KeyId key)
{
    std::lock_guard lock(m_mutex);
    Transaction tx(m_db, Transaction::Mode::Read);
    if (tx.status() != ERROR_SUCCESS)
        return RegFailure { tx.status() };
    if (const LONG st = exists_tx(key); st != ERROR_SUCCESS)
        return RegFailure { st };
    KeyInfo info;
    Statement subs(m_db, "SELECT count(*), coalesce(max(length(CAST(name AS BLOB))), 0) "
                         "FROM keys WHERE parent = ?1");
    if (subs.bind(1, key).step() != SQLITE_ROW)
        return RegFailure { ERROR_REGISTRY_IO_FAILED };
    info.subkeys = static_cast<DWORD>(subs.column_int(0));
    info.max_subkey_len = static_cast<DWORD>(subs.column_int(1));
    Statement vals(m_db, "SELECT count(*), coalesce(max(length(CAST(name AS BLOB))), 0), "
                         "coalesce(max(length(data)), 0) FROM reg_values WHERE key = ?1");
    if (vals.bind(1, key).step() != SQLITE_ROW)
        return RegFailure { ERROR_REGISTRY_IO_FAILED };
    info.values = static_cast<DWORD>(vals.column_int(0));
    info.max_value_name_len = static_cast<DWORD>(vals.column_int(1));
    info.max_value_len = static_cast<DWORD>(vals.column_int(2));
    Statement mt(m_db, "SELECT mtime FROM keys WHERE id = ?1");
    if (mt.bind(1, key).step() == SQLITE_ROW)
        info.mtime = mt.column_int(0);
    return info;
}

} // namespace kolm::platform
