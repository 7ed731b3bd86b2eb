// A thin RAII layer over one SQLite connection, as the registry store uses it:
// cached prepared statements, transactions that roll back unless committed,
// and the one table that turns SQLite result codes into registry statuses.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "win32/types.h"

struct sqlite3;
struct sqlite3_stmt;

namespace kolm::platform {

// The registry status for a failed SQLite call (primary or extended code).
LONG registry_error_from_sqlite(int rc);

class Database;

// A cached prepared statement, bound and stepped by one caller at a time.
// Reset and cleared when the object goes out of scope, so the next user of
// the same SQL starts clean and no read lock outlives the statement.
class Statement {
public:
    Statement(Database& db, const char* sql);
    ~Statement();
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    // A statement that failed to prepare reports its error from step().
    Statement& bind(int index, int64_t v);
    Statement& bind_text(int index, std::string_view v);
    Statement& bind_blob(int index, std::span<const BYTE> v);

    // SQLITE_ROW, SQLITE_DONE or an error code.
    int step();

    int64_t column_int(int col);
    std::string column_text(int col);
    std::vector<BYTE> column_blob(int col);

private:
    sqlite3_stmt* m_stmt = nullptr;
    int m_prepare_rc = 0;
};

class Database {
public:
    Database() = default;
    ~Database();
    Database(const Database&) = delete;
    Database& operator=(const Database&) = delete;

    // Opens (creating when missing) the database file; SQLite result code.
    int open(const std::filesystem::path& path);

    // Runs SQL without results; SQLite result code.
    int exec(const char* sql);
    // Runs one statement without results from the statement cache: for
    // those every call makes (a transaction's BEGIN and COMMIT), which exec
    // would parse anew each time. SQLite result code, SQLITE_OK when done.
    int run(const char* sql);

    // Leaves the connection open without closing it: used in a child process
    // after fork, where the connection belongs to the parent.
    void abandon();

    sqlite3* handle() const { return m_db; }

private:
    friend class Statement;
    sqlite3_stmt* cached(const char* sql, int& rc);

    sqlite3* m_db = nullptr;
    // Keyed by the SQL text's address: every statement is a string literal.
    std::map<const char*, sqlite3_stmt*> m_statements;
};

// One transaction. Read transactions see a single snapshot; write
// transactions take the write lock at once (BEGIN IMMEDIATE) so that two
// writers never deadlock upgrading a read lock.
class Transaction {
public:
    enum class Mode { Read, Write };

    Transaction(Database& db, Mode mode);
    ~Transaction();
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;

    // The registry status of BEGIN.
    LONG status() const { return m_status; }
    LONG commit();

private:
    Database& m_db;
    LONG m_status = ERROR_SUCCESS;
    bool m_open = false;
};

} // namespace kolm::platform
