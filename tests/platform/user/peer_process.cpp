#include "peer_process.h"

#include "test_support.h"

#include <csignal>
#include <cstdio>

namespace kolm::test {

PeerProcess::PeerProcess(const std::string& cls, const std::string& title)
    : m_child(bin_path("user_test_peer").string(), {cls, title})
{
    const auto line = m_child.read_line();
    if (!line)
        return;
    m_banner = *line;
    unsigned value = 0;
    if (std::sscanf(line->c_str(), "ready 0x%x", &value) == 1)
        m_hwnd = DwordToHandle<HWND>(value);
}

void PeerProcess::kill_hard()
{
    m_child.kill(SIGKILL);
}

std::optional<int> PeerProcess::wait_exit(std::chrono::milliseconds bound)
{
    // The peer's own exit codes are small; above 128 a signal ended it.
    const auto status = m_child.wait_exit(bound);
    if (status && *status > 128)
        return -(*status - 128);
    return status;
}

} // namespace kolm::test
