// A child process whose standard output a test reads line by line, with
// bounded waits and no sleeping.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace kolm::test {

class ChildProcess {
public:
    // Runs `path` with `args`; `env` entries (NAME=VALUE) are added to this
    // process's environment. Standard error stays this process's.
    ChildProcess(const std::string& path, const std::vector<std::string>& args,
                 const std::vector<std::string>& env = {});
    ~ChildProcess(); // kills a child still running
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
    // Its exit status (128 + signal for a signal), or nullopt at the bound.
    std::optional<int> wait_exit(std::chrono::milliseconds bound = std::chrono::seconds(10));
    void kill(int signal);

private:
    pid_t m_pid = -1;
    int m_pidfd = -1;
    int m_out = -1;
    bool m_reaped = false;
    int m_status = 0;
    std::string m_buffer;
};

} // namespace kolm::test
