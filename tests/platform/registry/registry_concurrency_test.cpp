// Several threads and processes on one registry; a writer killed mid-write.
#include <atomic>
#include <csignal>
#include <sqlite3.h>
#include <thread>

#include "child_process.h"
#include "registry_test_util.h"
#include "test_support.h"

namespace kolm::test {
namespace {

using RegistryConcurrency = RootedTest;

// registry_writer with these arguments, its output read line by line.
class Child : public ChildProcess {
public:
    explicit Child(const std::vector<std::string>& args)
        : ChildProcess("registry_writer", args)
    {
    }
    // The exit status (or 128 + signal).
    int wait() { return wait_exit(std::chrono::seconds(60)).value_or(-1); }
};

DWORD read_dword(HKEY key, const std::string& name, LONG& st)
{
    DWORD v = 0, size = 4, type = 0;
    st = RegQueryValueExA(key, name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(&v), &size);
    return v;
}

TEST_F(RegistryConcurrency, ThreadsWritingDistinctValuesLoseNothing)
{
    constexpr int k_threads = 4;
    constexpr DWORD k_each = 150;
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < k_threads; ++t) {
        threads.emplace_back([t, &failures] {
            Key key(make_key("Shared"));
            for (DWORD i = 0; i < k_each; ++i) {
                const std::string name = "T" + std::to_string(t) + "_" + std::to_string(i);
                if (RegSetValueExA(key, name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&i), 4)
                    != ERROR_SUCCESS)
                    ++failures;
                // Keys come and go under the shared one while others write.
                Key sub(make_key(("Shared\\Tmp" + std::to_string(t)).c_str()));
                if (!sub.get() || RegDeleteKeyA(key, ("Tmp" + std::to_string(t)).c_str()) != ERROR_SUCCESS)
                    ++failures;
                DWORD count = 0;
                if (RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &count, nullptr,
                                     nullptr, nullptr, nullptr)
                    != ERROR_SUCCESS)
                    ++failures;
            }
        });
    }
    for (auto& th : threads)
        th.join();
    EXPECT_EQ(failures.load(), 0);

    Key key(make_key("Shared"));
    EXPECT_EQ(value_names(key).size(), static_cast<size_t>(k_threads * k_each));
    for (int t = 0; t < k_threads; ++t) {
        for (DWORD i = 0; i < k_each; ++i) {
            LONG st;
            const DWORD v = read_dword(key, "T" + std::to_string(t) + "_" + std::to_string(i), st);
            ASSERT_EQ(st, ERROR_SUCCESS) << "thread " << t << " value " << i;
            EXPECT_EQ(v, i);
        }
    }
}

TEST_F(RegistryConcurrency, ProcessesOpeningANewRegistryTogetherAllGetIt)
{
    // The first openers of a new machine root set up its file together;
    // none may fail on the others' locks.
    for (int round = 0; round < 20; ++round) {
        TempRoot fresh;
        Child a({"write", "A", "1"});
        Child b({"write", "B", "1"});
        Child c({"write", "C", "1"});
        ASSERT_TRUE(a.started() && b.started() && c.started());
        EXPECT_EQ(a.wait(), 0) << "round " << round;
        EXPECT_EQ(b.wait(), 0) << "round " << round;
        EXPECT_EQ(c.wait(), 0) << "round " << round;
    }
}

TEST_F(RegistryConcurrency, TwoProcessesWritingAtOnceLoseNothing)
{
    constexpr int k_count = 200;
    Child a({"write", "A", std::to_string(k_count)});
    Child b({"write", "B", std::to_string(k_count)});
    ASSERT_TRUE(a.started() && b.started());

    // This process reads while both write: every call must succeed.
    int reads = 0;
    std::atomic<bool> done{false};
    std::thread reader([&] {
        while (!done) {
            Key key;
            if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Shared", 0, KEY_READ, key.out()) == ERROR_SUCCESS) {
                const size_t n = value_names(key).size();
                EXPECT_LE(n, static_cast<size_t>(2 * k_count));
            }
            ++reads;
        }
    });
    EXPECT_EQ(a.wait(), 0);
    EXPECT_EQ(b.wait(), 0);
    done = true;
    reader.join();
    EXPECT_GT(reads, 0);

    Key key;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Shared", 0, KEY_READ, key.out()), ERROR_SUCCESS);
    EXPECT_EQ(value_names(key).size(), static_cast<size_t>(2 * k_count));
    for (const char* prefix : {"A", "B"}) {
        for (DWORD i = 0; i < k_count; ++i) {
            LONG st;
            EXPECT_EQ(read_dword(key, prefix + std::to_string(i), st), i) << prefix << i;
            EXPECT_EQ(st, ERROR_SUCCESS);
        }
    }
}

// Runs one SQL query returning a single text or number, as text.
std::string query_one(sqlite3* db, const char* sql)
{
    sqlite3_stmt* st = nullptr;
    std::string out = "<error>";
    if (sqlite3_prepare_v2(db, sql, -1, &st, nullptr) == SQLITE_OK && sqlite3_step(st) == SQLITE_ROW)
        out = reinterpret_cast<const char*>(sqlite3_column_text(st, 0));
    sqlite3_finalize(st);
    return out;
}

TEST_F(RegistryConcurrency, WriterKilledMidWriteLeavesAConsistentRegistry)
{
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        Child writer({"churn"});
        ASSERT_TRUE(writer.started());
        // Let it get well into its loop; each round stops it at another point.
        std::string line;
        for (int i = 0; i < 5 + 7 * round; ++i)
        {
            auto next = writer.read_line(std::chrono::seconds(60));
            ASSERT_TRUE(next) << "writer stopped early";
            line = *next;
        }
        writer.kill(SIGKILL);
        EXPECT_EQ(writer.wait(), 128 + SIGKILL);

        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open((root.path() / "registry.db").c_str(), &db), SQLITE_OK);
        EXPECT_EQ(query_one(db, "PRAGMA integrity_check"), "ok");
        EXPECT_EQ(query_one(db, "SELECT count(*) FROM keys WHERE parent != 0 AND "
                                "parent NOT IN (SELECT id FROM keys)"),
                  "0")
            << "orphan keys";
        EXPECT_EQ(query_one(db, "SELECT count(*) FROM reg_values WHERE key NOT IN (SELECT id FROM keys)"), "0")
            << "orphan values";
        sqlite3_close(db);

        // Each batch was all or nothing: the 40 values hold one generation,
        // at least the last one the writer reported.
        Key batch;
        ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Batch", 0, KEY_READ, batch.out()), ERROR_SUCCESS);
        LONG st;
        const DWORD first = read_dword(batch, "V0", st);
        ASSERT_EQ(st, ERROR_SUCCESS);
        EXPECT_GE(first, static_cast<DWORD>(std::stoul(line)));
        for (int i = 1; i < 40; ++i)
            EXPECT_EQ(read_dword(batch, "V" + std::to_string(i), st), first) << "V" << i;

        // And the registry still takes writes.
        Key k(make_key("AfterKill"));
        EXPECT_NE(k.get(), nullptr);
    }
}

} // namespace
} // namespace kolm::test
