// devsim (or another test peer that prints "ready") run as a child process
// for a test: started with its arguments, ready once it has printed
// "ready", stopped (SIGTERM) when destroyed.
#pragma once

#include "child_process.h"

#include <string>
#include <vector>

namespace kolm::test {

class DevsimProcess {
public:
    // program: a binary next to the test binary.
    explicit DevsimProcess(const std::vector<std::string>& args, const std::string& program = "devsim");
    ~DevsimProcess();
    DevsimProcess(const DevsimProcess&) = delete;
    DevsimProcess& operator=(const DevsimProcess&) = delete;

    // False when devsim did not get ready within the bound; error() says why.
    bool ready() const { return m_ready; }
    const std::string& error() const { return m_error; }
    // What devsim printed before "ready", one entry per line.
    const std::vector<std::string>& lines() const { return m_lines; }
    // The port of the i-th --tcp channel, from its "tcp ADDR:PORT MODE" line.
    unsigned short tcp_port(size_t i) const;
    // Ends devsim with SIGTERM; true when it exited cleanly with status 0.
    bool stop();

private:
    ChildProcess m_child;
    bool m_stopped = false;
    bool m_ready = false;
    std::string m_error;
    std::vector<std::string> m_lines;
};

} // namespace kolm::test
