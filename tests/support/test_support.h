// Shared test helpers: every test runs in a fresh machine root of its own.
#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>

#include <gtest/gtest.h>

namespace kolm::test {

// A fresh temporary machine root, set as KOLM_ROOT for the life of the
// object and removed afterwards. The host's serial ports stay out of it:
// KOLM_SYSFS_TTY names an empty folder of the root (a test that wants
// ports makes them there, see fake_serial_port).
class TempRoot {
public:
    TempRoot();
    ~TempRoot();
    TempRoot(const TempRoot&) = delete;
    TempRoot& operator=(const TempRoot&) = delete;
    const std::filesystem::path& path() const { return m_path; }

    const std::filesystem::path& sysfs_tty() const { return m_sysfs_tty; }

private:
    std::filesystem::path m_path;
    std::filesystem::path m_sysfs_tty;
    std::string m_old;
    bool m_had_old = false;
    std::string m_old_tty;
    bool m_had_old_tty = false;
};

// Adds ttySn to a fake sysfs tty folder, with its "type" and "port" files.
void fake_serial_port(const std::filesystem::path& sysfs_tty, unsigned n, unsigned type, const std::string& port);

// Fixture base: a fresh machine root for each test.
class RootedTest : public ::testing::Test {
protected:
    TempRoot root;
};

// Waits until pred() is true, checking on each change the caller signals
// through poll_interval-free waiting is not possible for every condition, so
// this helper re-checks every millisecond up to the bound. Use it only for
// conditions that have no event of their own (a file appearing, a process
// exiting).
bool wait_until(const std::function<bool()>& pred,
                std::chrono::milliseconds bound = std::chrono::seconds(10));

// Path of a built binary (build/bin/NAME), found next to the test binary.
std::filesystem::path bin_path(const std::string& name);

// Runs a command line through /bin/sh, returning its exit status and what it
// wrote on standard output.
struct CommandResult {
    int status = -1;
    std::string out;
};
CommandResult run_command(const std::string& cmdline);

// A private IPX segment for one test process: a multicast group address
// drawn at random on a UDP port the kernel just handed out. Set it (and the
// network number) in the environment before the first IPX socket, so that
// child processes started by the test join the same segment.
std::string private_ipx_group();
void use_private_ipx_segment(const char* network_hex = "0000000A");

} // namespace kolm::test
