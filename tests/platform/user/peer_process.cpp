#include "peer_process.h"

#include "test_support.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace kolm::test {

namespace {

bool wait_readable(int fd, std::chrono::milliseconds bound)
{
    const auto end = std::chrono::steady_clock::now() + bound;
    pollfd p { fd, POLLIN, 0 };
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
        if (left.count() < 0)
            return false;
        int n = ::poll(&p, 1, static_cast<int>(left.count()));
        if (n > 0)
            return true;
        if (n == 0)
            return false;
        if (errno != EINTR)
            return false;
    }
}

} // namespace

PeerProcess::PeerProcess(const std::string& cls, const std::string& title)
{
    int pipefd[2];
    if (::pipe2(pipefd, O_CLOEXEC) != 0)
        return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipefd[1], STDOUT_FILENO);
    const std::string path = bin_path("user_test_peer").string();
    char* argv[] = { const_cast<char*>(path.c_str()), const_cast<char*>(cls.c_str()),
                     const_cast<char*>(title.c_str()), nullptr };
    const int rc = ::posix_spawn(&m_pid, path.c_str(), &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipefd[1]);
    m_out = pipefd[0];
    if (rc != 0) {
        m_pid = -1;
        return;
    }
    m_pidfd = static_cast<int>(::syscall(SYS_pidfd_open, m_pid, 0));

    std::string line;
    while (line.find('\n') == std::string::npos) {
        if (!wait_readable(m_out, std::chrono::seconds(10)))
            return;
        char buf[64];
        ssize_t n = ::read(m_out, buf, sizeof buf);
        if (n <= 0)
            return;
        line.append(buf, static_cast<size_t>(n));
    }
    m_banner = line.substr(0, line.find('\n'));
    unsigned value = 0;
    if (std::sscanf(line.c_str(), "ready 0x%x", &value) == 1)
        m_hwnd = DwordToHandle<HWND>(value);
}

PeerProcess::~PeerProcess()
{
    if (m_pid > 0 && !m_reaped) {
        ::kill(m_pid, SIGKILL);
        int st;
        while (::waitpid(m_pid, &st, 0) < 0 && errno == EINTR) {
        }
    }
    if (m_pidfd >= 0)
        ::close(m_pidfd);
    if (m_out >= 0)
        ::close(m_out);
}

void PeerProcess::kill_hard()
{
    if (m_pid > 0 && !m_reaped)
        ::kill(m_pid, SIGKILL);
}

std::optional<int> PeerProcess::wait_exit(std::chrono::milliseconds bound)
{
    if (m_pid <= 0 || m_reaped)
        return std::nullopt;
    // The pidfd turns readable when the process ends.
    if (m_pidfd >= 0 && !wait_readable(m_pidfd, bound))
        return std::nullopt;
    int st = 0;
    pid_t r;
    while ((r = ::waitpid(m_pid, &st, 0)) < 0 && errno == EINTR) {
    }
    m_reaped = r == m_pid;
    if (!m_reaped)
        return std::nullopt;
    return WIFEXITED(st) ? WEXITSTATUS(st) : -WTERMSIG(st);
}

} // namespace kolm::test
