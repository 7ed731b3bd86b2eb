// Shared test helpers: every test runs in a fresh machine root of its own.
#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>

#include <gtest/gtest.h>

#include "machine_env.h"

namespace kolm::test {

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

// Runs a command line through /bin/sh (run_program, with the test's own
// standard input and standard error), returning its exit status and what it
// wrote on standard output; killed after two minutes.
struct CommandResult {
    int status = -1;
    std::string out;
};
CommandResult run_command(const std::string& cmdline);

} // namespace kolm::test
