// Runs user_test_peer as a child process and waits on it without sleeping.
#pragma once

#include "win32.h"

#include "child_process.h"

#include <chrono>
#include <optional>
#include <string>
#include <sys/types.h>

namespace kolm::test {

class PeerProcess {
public:
    // Starts the peer with a window of this class and title, and waits (up
    // to the bound) for it to report its window.
    PeerProcess(const std::string& cls, const std::string& title);

    bool ready() const { return m_hwnd != nullptr; }
    HWND hwnd() const { return m_hwnd; }
    pid_t pid() const { return m_child.pid(); }
    // What the peer reported when it started (for failure messages).
    const std::string& banner() const { return m_banner; }

    void kill_hard();
    // Exit status once the process has ended, minus the signal number if a
    // signal ended it; nullopt while it still runs at the bound.
    std::optional<int> wait_exit(std::chrono::milliseconds bound = std::chrono::seconds(10));

private:
    ChildProcess m_child;
    HWND m_hwnd = nullptr;
    std::string m_banner;
};

} // namespace kolm::test
