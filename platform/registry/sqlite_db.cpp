#include "registry/sqlite_db.h"

#include <sqlite3.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kolm::platform {

LONG registry_error_from_sqlite(int rc)
{
    switch (rc & 0xff) {
    case SQLITE_OK:
    case SQLITE_ROW:
    case SQLITE_DONE:
        return ERROR_SUCCESS;
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
        return ERROR_BUSY;
    case SQLITE_NOMEM:
        return ERROR_NOT_ENOUGH_MEMORY;
    case SQLITE_READONLY:
    case SQLITE_PERM:
    case SQLITE_AUTH:
        return ERROR_ACCESS_DENIED;
    case SQLITE_FULL:
        return ERROR_DISK_FULL;
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB:
    case SQLITE_FORMAT:
        return ERROR_REGISTRY_CORRUPT;
    case SQLITE_TOOBIG:
        return ERROR_INVALID_PARAMETER;
    case SQLITE_CANTOPEN:
    case SQLITE_IOERR:
    default:
        return ERROR_REGISTRY_IO_FAILED;
    }
}

Statement::Statement(Database& db, const char* sql)
{
    m_stmt = db.cached(sql, m_prepare_rc);
}

Statement::~Statement()
{
    if (m_stmt) {
        sqlite3_reset(m_stmt);
        sqlite3_clear_bindings(m_stmt);
    }
}

Statement& Statement::bind(int index, int64_t v)
{
    if (m_stmt)
        sqlite3_bind_int64(m_stmt, index, v);
    return *this;
}

Statement& Statement::bind_text(int index, std::string_view v)
{
    // NOTE: an empty view may have a null data pointer, which SQLite would
    // bind as NULL rather than as the empty text.
    if (m_stmt)
        sqlite3_bind_text(m_stmt, index, v.empty() ? "" : v.data(), static_cast<int>(v.size()),
                          SQLITE_TRANSIENT);
    return *this;
}

Statement& Statement::bind_blob(int index, std::span<const BYTE> v)
{
    if (!m_stmt)
        return *this;
    if (v.empty())
        sqlite3_bind_zeroblob(m_stmt, index, 0);
    else
        sqlite3_bind_blob(m_stmt, index, v.data(), static_cast<int>(v.size()), SQLITE_TRANSIENT);
    return *this;
}

int Statement::step()
{
    if (!m_stmt)
        return m_prepare_rc != SQLITE_OK ? m_prepare_rc : SQLITE_ERROR;
    return sqlite3_step(m_stmt);
}

int64_t Statement::column_int(int col)
{
    return sqlite3_column_int64(m_stmt, col);
}

std::string Statement::column_text(int col)
{
    const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(m_stmt, col));
    const int n = sqlite3_column_bytes(m_stmt, col);
    return p ? std::string(p, static_cast<size_t>(n)) : std::string();
}

std::vector<BYTE> Statement::column_blob(int col)
{
    const auto* p = static_cast<const BYTE*>(sqlite3_column_blob(m_stmt, col));
    const int n = sqlite3_column_bytes(m_stmt, col);
    return p ? std::vector<BYTE>(p, p + n) : std::vector<BYTE>();
}

Database::~Database()
{
    if (!m_db)
        return;
    for (auto& [sql, stmt] : m_statements)
        sqlite3_finalize(stmt);
    sqlite3_close_v2(m_db);
}

namespace {

// The registry holds what the programs were told to trust (services,
// window handles): owner only. SQLite gives its journal and WAL files the
// database file's mode, so the database is made 0600 before SQLite creates
// it, and files an older root left looser are tightened.
void keep_private(const std::filesystem::path& path)
{
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd >= 0)
        ::close(fd);
    for (const char* suffix : {"", "-journal", "-wal", "-shm"}) {
        const std::string file = path.string() + suffix;
        struct stat st {};
        if (::lstat(file.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::geteuid()
            && (st.st_mode & 077) != 0)
            ::chmod(file.c_str(), 0600);
    }
}

} // namespace

int Database::open(const std::filesystem::path& path)
{
    keep_private(path);
    const int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX;
    int rc = sqlite3_open_v2(path.c_str(), &m_db, flags, nullptr);
    if (rc != SQLITE_OK)
        return rc;
    sqlite3_extended_result_codes(m_db, 1);
    return SQLITE_OK;
}

int Database::exec(const char* sql)
{
    return sqlite3_exec(m_db, sql, nullptr, nullptr, nullptr);
}

int Database::run(const char* sql)
{
    Statement st(*this, sql);
    const int rc = st.step();
    return rc == SQLITE_DONE ? SQLITE_OK : rc;
}

void Database::abandon()
{
    m_statements.clear();
    m_db = nullptr;
}

sqlite3_stmt* Database::cached(const char* sql, int& rc)
{
    rc = SQLITE_OK;
    if (auto it = m_statements.find(sql); it != m_statements.end())
        return it->second;
    sqlite3_stmt* stmt = nullptr;
    rc = sqlite3_prepare_v3(m_db, sql, -1, SQLITE_PREPARE_PERSISTENT, &stmt, nullptr);
    if (rc != SQLITE_OK)
        return nullptr;
    m_statements.emplace(sql, stmt);
    return stmt;
}

Transaction::Transaction(Database& db, Mode mode) : m_db(db)
{
    const int rc = db.run(mode == Mode::Write ? "BEGIN IMMEDIATE" : "BEGIN");
    m_status = registry_error_from_sqlite(rc);
    m_open = rc == SQLITE_OK;
}

Transaction::~Transaction()
{
    if (m_open)
        m_db.run("ROLLBACK");
}

LONG Transaction::commit()
{
    if (!m_open)
        return m_status;
    const int rc = m_db.run("COMMIT");
    if (rc != SQLITE_OK)
        return registry_error_from_sqlite(rc);
    m_open = false;
    return ERROR_SUCCESS;
}

} // namespace kolm::platform
