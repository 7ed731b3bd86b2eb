#include "devsim_process.h"

#include <cstdlib>

namespace kolm::test {

DevsimProcess::DevsimProcess(const std::vector<std::string>& args, const std::string& program)
    : m_child(program, args)
{
    if (!m_child.started()) {
        m_error = program + " did not start";
        return;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        const auto line = m_child.read_line(std::max(left, std::chrono::milliseconds(0)));
        if (!line) {
            m_error = program + (m_child.wait_exit(std::chrono::milliseconds(0)) ? " ended before it was ready"
                                                                                  : " did not print ready");
            return;
        }
        if (*line == "ready") {
            m_ready = true;
            return;
        }
        m_lines.push_back(*line);
    }
}

DevsimProcess::~DevsimProcess()
{
    stop();
}

unsigned short DevsimProcess::tcp_port(size_t i) const
{
    size_t seen = 0;
    for (const std::string& l : m_lines) {
        if (l.rfind("tcp ", 0) != 0)
            continue;
        if (seen++ == i) {
            const size_t colon = l.find(':');
            return static_cast<unsigned short>(std::atoi(l.c_str() + colon + 1));
        }
    }
    return 0;
}

bool DevsimProcess::stop()
{
    if (!m_child.started() || m_stopped)
        return false;
    m_stopped = true;
    return m_child.terminate() == 0;
}

} // namespace kolm::test
