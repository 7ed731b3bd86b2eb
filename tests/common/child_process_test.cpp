// The one way tests start programs: what reaches the child, what comes back,
// and that no wait outlasts its bound.
#include "child_process.h"
#include "test_support.h"

#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

namespace kolm::test {
namespace {

using namespace std::chrono_literals;

RunResult sh(const std::string& script, const ChildOptions& options = {.stdin_from = StdinFrom::Null,
                                                                        .capture_stderr = true},
             std::chrono::milliseconds bound = 10s)
{
    return run_program("/bin/sh", {"-c", script}, options, bound);
}

TEST(ChildProcess, RunsAProgramToItsEnd)
{
    ::setenv("KOLM_CHILD_TEST", "the test's", 1);
    int typed[2];
    ASSERT_EQ(::pipe2(typed, O_CLOEXEC), 0);
    ASSERT_EQ(::write(typed[1], "typed\n", 6), 6);
    ::close(typed[1]);
    struct Row {
        const char* name;
        std::string script;
        ChildOptions options;
        int status;
        std::string out;
        std::string err;
    } rows[] = {
        {"output apart from errors", "echo out; echo err >&2; exit 3", {.stdin_from = StdinFrom::Null, .capture_stderr = true},
         3, "out\n", "err\n"},
        {"an entry replaces the test's own", "echo \"$KOLM_CHILD_TEST\"",
         {.env = {"KOLM_CHILD_TEST=the child's"}, .stdin_from = StdinFrom::Null, .capture_stderr = true}, 0,
         "the child's\n", ""},
        {"the rest of the test's environment", "echo \"$KOLM_CHILD_TEST $KOLM_ROOT\"", {.stdin_from = StdinFrom::Null},
         0, "the test's " + std::string(std::getenv("KOLM_ROOT") ? std::getenv("KOLM_ROOT") : "") + "\n", ""},
        {"nothing to read on /dev/null", "cat; echo end", {.stdin_from = StdinFrom::Null}, 0, "end\n", ""},
        {"a descriptor as its input", "cat", {.stdin_from = StdinFrom::Fd, .stdin_fd = typed[0]}, 0, "typed\n", ""},
        {"a signal", "kill -USR1 $$", {.stdin_from = StdinFrom::Null}, 128 + SIGUSR1, "", ""},
        {"more than a pipe holds on both", "head -c 300000 /dev/zero; head -c 300000 /dev/zero >&2",
         {.stdin_from = StdinFrom::Null, .capture_stderr = true}, 0, std::string(300000, '\0'),
         std::string(300000, '\0')},
    };
    for (const Row& row : rows) {
        const RunResult r = sh(row.script, row.options);
        EXPECT_EQ(r.status, row.status) << row.name;
        EXPECT_EQ(r.out, row.out) << row.name;
        EXPECT_EQ(r.err, row.err) << row.name;
    }
    ::close(typed[0]);
    ::unsetenv("KOLM_CHILD_TEST");
}

TEST(ChildProcess, ABoundEndsTheWaitAndTheChild)
{
    const auto start = std::chrono::steady_clock::now();
    const RunResult r = sh("echo started; exec sleep 60", {.stdin_from = StdinFrom::Null}, 300ms);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 20s);
    EXPECT_EQ(r.status, -1);
    EXPECT_EQ(r.out, "started\n");

    pid_t pid;
    {
        ChildProcess child("/bin/sleep", {"60"});
        ASSERT_TRUE(child.started());
        pid = child.pid();
        EXPECT_EQ(child.wait_exit(100ms), std::nullopt);
        EXPECT_EQ(child.read_line(100ms), std::nullopt);
    }
    EXPECT_NE(::kill(pid, 0), 0) << "the child outlived its object";
}

TEST(ChildProcess, LinesOneAtATime)
{
    ChildProcess child("/bin/sh", {"-c", "echo one; echo 'two: 2'; echo three; exec sleep 60"});
    ASSERT_TRUE(child.started());
    EXPECT_EQ(child.read_line(), "one");
    EXPECT_EQ(child.wait_line("three"), "");
    EXPECT_EQ(child.read_line(200ms), std::nullopt) << "no more lines while it runs";
    EXPECT_EQ(child.terminate(), 128 + SIGTERM);
}

TEST(ChildProcess, TerminateKillsWhatIgnoresSigterm)
{
    ChildProcess child("/bin/sh", {"-c", "trap '' TERM; echo ready; while :; do sleep 1; done"});
    ASSERT_EQ(child.read_line(), "ready");
    EXPECT_EQ(child.terminate(200ms), 128 + SIGKILL);
}

TEST(ChildProcess, AProgramThatIsNotThere)
{
    ChildProcess child("no_such_program_here", {});
    EXPECT_FALSE(child.started());
    EXPECT_EQ(child.read_line(100ms), std::nullopt);
    EXPECT_EQ(child.wait_exit(100ms), std::nullopt);
    EXPECT_EQ(run_program("/nonexistent/program", {}).status, -1);
}

} // namespace
} // namespace kolm::test
