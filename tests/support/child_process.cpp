#include "child_process.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace kolm::test {

namespace {

using Clock = std::chrono::steady_clock;

int remaining_ms(Clock::time_point deadline)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

// Waits for `fd` to become readable up to the deadline; EINTR retried.
bool wait_readable(int fd, Clock::time_point deadline)
{
    for (;;) {
        pollfd p { fd, POLLIN, 0 };
        const int r = ::poll(&p, 1, remaining_ms(deadline));
        if (r > 0)
            return true;
        if (r == 0)
            return false;
        if (errno != EINTR)
            return false;
    }
}

} // namespace

ChildProcess::ChildProcess(const std::string& path, const std::vector<std::string>& args,
                           const std::vector<std::string>& env)
{
    int pipefd[2];
    if (::pipe2(pipefd, O_CLOEXEC) != 0)
        return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipefd[1], STDOUT_FILENO);
    std::vector<char*> argv { const_cast<char*>(path.c_str()) };
    for (const auto& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    std::vector<std::string> env_strings;
    for (char** e = environ; *e; ++e)
        env_strings.emplace_back(*e);
    env_strings.insert(env_strings.end(), env.begin(), env.end());
    std::vector<char*> envp;
    for (auto& e : env_strings)
        envp.push_back(e.data());
    envp.push_back(nullptr);
    const int rc = ::posix_spawn(&m_pid, path.c_str(), &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipefd[1]);
    m_out = pipefd[0];
    if (rc != 0) {
        m_pid = -1;
        return;
    }
    m_pidfd = static_cast<int>(::syscall(SYS_pidfd_open, m_pid, 0));
}

ChildProcess::~ChildProcess()
{
    if (m_pid > 0 && !m_reaped) {
        ::kill(m_pid, SIGKILL);
        int status;
        while (::waitpid(m_pid, &status, 0) < 0 && errno == EINTR) {
        }
    }
    if (m_pidfd >= 0)
        ::close(m_pidfd);
    if (m_out >= 0)
        ::close(m_out);
}

std::optional<std::string> ChildProcess::read_line(std::chrono::milliseconds bound)
{
    const auto deadline = Clock::now() + bound;
    for (;;) {
        if (auto nl = m_buffer.find('\n'); nl != std::string::npos) {
            std::string line = m_buffer.substr(0, nl);
            m_buffer.erase(0, nl + 1);
            return line;
        }
        if (m_out < 0 || !wait_readable(m_out, deadline))
            return std::nullopt;
        char buf[512];
        const ssize_t n = ::read(m_out, buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return std::nullopt;
        m_buffer.append(buf, static_cast<size_t>(n));
    }
}

std::optional<std::string> ChildProcess::wait_line(const std::string& prefix, std::chrono::milliseconds bound)
{
    const auto deadline = Clock::now() + bound;
    while (auto line = read_line(std::chrono::milliseconds(remaining_ms(deadline)))) {
        if (line->rfind(prefix, 0) == 0)
            return line->substr(prefix.size());
    }
    return std::nullopt;
}

std::optional<int> ChildProcess::wait_exit(std::chrono::milliseconds bound)
{
    if (m_pid <= 0)
        return std::nullopt;
    if (!m_reaped) {
        if (m_pidfd >= 0 && !wait_readable(m_pidfd, Clock::now() + bound))
            return std::nullopt;
        int status = 0;
        pid_t r;
        while ((r = ::waitpid(m_pid, &status, 0)) < 0 && errno == EINTR) {
        }
        if (r != m_pid)
            return std::nullopt;
        m_reaped = true;
        m_status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    return m_status;
}

void ChildProcess::kill(int signal)
{
    if (m_pid > 0 && !m_reaped)
        ::kill(m_pid, signal);
}

} // namespace kolm::test
