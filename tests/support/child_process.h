// The one way a test starts a program: a child process in the test's
// machine root (it inherits KOLM_ROOT and the rest of the environment),
// its standard output read line by line or whole, its standard error
// collected or left to the test's, every wait bounded, and the child
// killed when the object goes.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace kolm::test {

enum class StdinFrom {
    Inherit, // the test's own standard input
    Null,    // /dev/null: nothing can be typed, end of file at once
    Fd,      // ChildOptions::stdin_fd (a terminal's slave side, say)
};

struct ChildOptions {
    // NAME=VALUE entries added to (or replacing) the test's environment.
    std::vector<std::string> env {};
    StdinFrom stdin_from = StdinFrom::Inherit;
    int stdin_fd = -1; // with StdinFrom::Fd; the test keeps it open and closes it
    // Collected into err() instead of going to the test's standard error.
    bool capture_stderr = false;
};

class ChildProcess {
public:
    // Runs `program` with `args`. A bare name is a binary next to the test
    // binary (bin_path); anything with a slash is taken as it is.
    ChildProcess(const std::string& program, const std::vector<std::string>& args, ChildOptions options);
    ChildProcess(const std::string& program, const std::vector<std::string>& args,
                 const std::vector<std::string>& env = {});
    ~ChildProcess(); // kills a child still running, and reaps it
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool started() const { return m_pid > 0; }
    pid_t pid() const { return m_pid; }

    // The next whole line of its output, or nullopt at the bound or when
    // its output ends.
    std::optional<std::string> read_line(std::chrono::milliseconds bound = std::chrono::seconds(10));
    // Reads lines until one starts with `prefix`; the rest of that line.
    std::optional<std::string> wait_line(const std::string& prefix,
                                         std::chrono::milliseconds bound = std::chrono::seconds(10));
    // Reads its output (and its standard error, when collected) until both
    // end; false at the bound. What came is in out() and err().
    bool read_to_end(std::chrono::milliseconds bound);
    // What read_to_end gathered (read_line consumes out() line by line).
    const std::string& out() const { return m_buffer; }
    // Its standard error so far, when collected.
    const std::string& err() const { return m_err_buffer; }

    // Its exit status (128 + signal for a signal), or nullopt at the bound.
    std::optional<int> wait_exit(std::chrono::milliseconds bound = std::chrono::seconds(10));
    void kill(int signal);
    // SIGTERM, and SIGKILL when it has not ended within the bound; its
    // exit status.
    std::optional<int> terminate(std::chrono::milliseconds bound = std::chrono::seconds(10));

private:
    // Waits for output on either pipe up to the deadline and reads what is
    // there; false when standard output has ended or the deadline passed.
    bool pump(std::chrono::steady_clock::time_point deadline);

    pid_t m_pid = -1;
    int m_pidfd = -1;
    int m_out = -1;
    int m_err = -1;
    bool m_reaped = false;
    int m_status = 0;
    std::string m_buffer;
    std::string m_err_buffer;
};

// A program run to its end: exit status (128 + signal for a signal; -1
// when it did not start or was killed at the bound) and what it wrote.
struct RunResult {
    int status = -1;
    std::string out;
    std::string err;
};

// Runs `program` to its end within `bound` (killed at the bound). By
// default standard input is /dev/null and standard error is collected.
RunResult run_program(const std::string& program, const std::vector<std::string>& args,
                      const ChildOptions& options = { .stdin_from = StdinFrom::Null, .capture_stderr = true },
                      std::chrono::milliseconds bound = std::chrono::seconds(60));

} // namespace kolm::test
