// WinExec: command lines, program lookup, detached start.
#include <csignal>
#include <unistd.h>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "kernel/command_line.h"
#include "test_support.h"
#include "win32.h"

namespace {

namespace fs = std::filesystem;
using kolm::platform::split_command_line;
using Args = std::vector<std::string>;

TEST(CommandLine, Split)
{
    struct Row {
        const char* line;
        Args args;
    } rows[] = {
        {"second.exe -S -F1C:\\WINDOWS\\kolmvx.iss -F2C:\\WINDOWS\\kolmvx.log",
         {"second.exe", "-S", "-F1C:\\WINDOWS\\kolmvx.iss", "-F2C:\\WINDOWS\\kolmvx.log"}},
        {"\"C:\\Program Files\\x.exe\" a  \tb", {"C:\\Program Files\\x.exe", "a", "b"}},
        {"a\"b c\"d", {"ab cd"}},
        {"\"\" x", {"", "x"}},
        {"a\\\\\\\"b", {"a\\\"b"}},  // 3 backslashes + quote: one backslash, literal quote
        {"a\\\\\"b c\"", {"a\\b c"}}, // 2 backslashes + quote: one backslash, quote groups
        {"C:\\dir\\\\", {"C:\\dir\\\\"}},
        {"   ", {}},
        {"", {}},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.line);
        EXPECT_EQ(split_command_line(r.line), r.args);
    }
}

class WinExecTest : public kolm::test::RootedTest {
protected:
    fs::path out = root.path() / "probe.out";

    // The probe's record: its process id, its inherited descriptors, then
    // its arguments.
    Args record()
    {
        if (!kolm::test::wait_until([&] { return fs::exists(out); }))
            return {};
        std::ifstream in(out);
        Args lines;
        for (std::string line; std::getline(in, line);)
            lines.push_back(line);
        return lines;
    }
};

TEST_F(WinExecTest, StartsAProgramBesideTheExecutable)
{
    const std::string probe = kolm::test::bin_path("kernel_exec_probe").string();
    ASSERT_TRUE(fs::exists(probe));
    int leak[2];
    ASSERT_EQ(::pipe(leak), 0); // not close-on-exec
    for (const char* name : {"kernel_exec_probe", "kernel_exec_probe.exe", "KERNEL_EXEC_PROBE.EXE"}) {
        SCOPED_TRACE(name);
        fs::remove(out);
        const std::string cmd = std::string(name) + " " + out.string() + " -S -F1C:\\WINDOWS\\kolmvx.iss";
        EXPECT_GT(WinExec(cmd.c_str(), 1), 31u);
        const Args lines = record();
        ASSERT_EQ(lines.size(), 4u);
        EXPECT_EQ(lines[1], "fds:") << "the program inherits no descriptors";
        EXPECT_EQ(lines[2], "-S");
        EXPECT_EQ(lines[3], "-F1C:\\WINDOWS\\kolmvx.iss");
        // The child is collected when it ends: no zombie stays behind.
        const pid_t pid = std::stoi(lines[0]);
        EXPECT_TRUE(kolm::test::wait_until([&] { return ::kill(pid, 0) != 0; })) << "pid " << pid;
    }
    ::close(leak[0]);
    ::close(leak[1]);
}

TEST_F(WinExecTest, StartsAProgramOnADrive)
{
    fs::create_directories(root.path() / "drive_c/TOOLS");
    fs::copy_file(kolm::test::bin_path("kernel_exec_probe"), root.path() / "drive_c/TOOLS/probe");
    const std::string cmd = "C:\\tools\\probe.exe " + out.string() + " x";
    EXPECT_GT(WinExec(cmd.c_str(), 1), 31u);
    EXPECT_EQ(record().size(), 3u);
}

TEST_F(WinExecTest, Failures)
{
    struct Row {
        const char* line;
        UINT result;
    } rows[] = {
        {"no_such_program_kolm -S", ERROR_FILE_NOT_FOUND},
        {"C:\\NOWHERE\\second.exe -S", ERROR_PATH_NOT_FOUND},
        {"", ERROR_FILE_NOT_FOUND},
        {"   ", ERROR_FILE_NOT_FOUND},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.line);
        SetLastError(0xdeadbeef);
        EXPECT_EQ(WinExec(r.line, 1), r.result);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(r.result));
    }
    EXPECT_EQ(WinExec(nullptr, 1), static_cast<UINT>(ERROR_FILE_NOT_FOUND));
}

TEST_F(WinExecTest, FoundAlongPath)
{
    fs::create_directories(root.path() / "bin");
    fs::copy_file(kolm::test::bin_path("kernel_exec_probe"), root.path() / "bin/pathprobe");
    const std::string old = std::getenv("PATH") ? std::getenv("PATH") : "";
    ::setenv("PATH", (root.path() / "bin").c_str(), 1);
    const std::string cmd = "pathprobe.exe " + out.string();
    const UINT result = WinExec(cmd.c_str(), 1);
    ::setenv("PATH", old.c_str(), 1);
    EXPECT_GT(result, 31u);
    EXPECT_EQ(record().size(), 2u);
}

} // namespace
