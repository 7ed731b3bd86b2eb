#include "child_process.h"

#include "test_support.h"

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
        if (r == 0 || errno != EINTR)
            return false;
    }
}

// Appends what `fd` has to `to`; closes it (and sets it to -1) at its end.
void drain(int& fd, std::string& to)
{
    char buf[4096];
    ssize_t n;
    while ((n = ::read(fd, buf, sizeof buf)) < 0 && errno == EINTR) {
    }
    if (n > 0) {
        to.append(buf, static_cast<size_t>(n));
        return;
    }
    ::close(fd);
    fd = -1;
}

// The test's environment with `extra` entries added, an entry of the same
// name replaced (getenv takes the first of two, so appending would not).
std::vector<std::string> child_environment(const std::vector<std::string>& extra)
{
    auto name_of = [](const std::string& entry) { return entry.substr(0, entry.find('=')); };
    std::vector<std::string> out;
    for (char** e = environ; *e; ++e) {
        const std::string entry = *e;
        bool replaced = false;
        for (const auto& x : extra)
            replaced = replaced || name_of(x) == name_of(entry);
        if (!replaced)
            out.push_back(entry);
    }
    out.insert(out.end(), extra.begin(), extra.end());
    return out;
}

std::string program_path(const std::string& program)
{
    return program.find('/') == std::string::npos ? bin_path(program).string() : program;
}

} // namespace

ChildProcess::ChildProcess(const std::string& program, const std::vector<std::string>& args,
                           const std::vector<std::string>& env)
    : ChildProcess(program, args, ChildOptions { .env = env })
{
}

ChildProcess::ChildProcess(const std::string& program, const std::vector<std::string>& args, ChildOptions options)
{
    const std::string path = program_path(program);
    int out[2];
    int err[2] = { -1, -1 };
    if (::pipe2(out, O_CLOEXEC) != 0)
        return;
    if (options.capture_stderr && ::pipe2(err, O_CLOEXEC) != 0) {
        ::close(out[0]);
        ::close(out[1]);
        return;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    if (options.capture_stderr)
        posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);
    if (options.stdin_from == StdinFrom::Null)
        posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    else if (options.stdin_from == StdinFrom::Fd)
        posix_spawn_file_actions_adddup2(&actions, options.stdin_fd, STDIN_FILENO);

    std::vector<char*> argv { const_cast<char*>(path.c_str()) };
    for (const auto& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    std::vector<std::string> env_strings = child_environment(options.env);
    std::vector<char*> envp;
    for (auto& e : env_strings)
        envp.push_back(e.data());
    envp.push_back(nullptr);

    const int rc = ::posix_spawn(&m_pid, path.c_str(), &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    m_out = out[0];
    if (options.capture_stderr) {
        ::close(err[1]);
        m_err = err[0];
    }
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
    for (int fd : { m_pidfd, m_out, m_err }) {
        if (fd >= 0)
            ::close(fd);
    }
}

bool ChildProcess::pump(Clock::time_point deadline)
{
    for (;;) {
        if (m_out < 0)
            return false;
        pollfd p[2] = { { m_out, POLLIN, 0 }, { m_err, POLLIN, 0 } };
        const int r = ::poll(p, m_err >= 0 ? 2 : 1, remaining_ms(deadline));
        if (r < 0 && errno == EINTR)
            continue;
        if (r <= 0)
            return false;
        if (m_err >= 0 && p[1].revents)
            drain(m_err, m_err_buffer);
        if (p[0].revents) {
            drain(m_out, m_buffer);
            return m_out >= 0;
        }
    }
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
        if (!pump(deadline))
            return std::nullopt;
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

bool ChildProcess::read_to_end(std::chrono::milliseconds bound)
{
    const auto deadline = Clock::now() + bound;
    while (m_out >= 0 && pump(deadline)) {
    }
    // Standard error may outlast standard output by a little.
    while (m_err >= 0 && wait_readable(m_err, deadline))
        drain(m_err, m_err_buffer);
    return m_out < 0 && m_err < 0;
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

std::optional<int> ChildProcess::terminate(std::chrono::milliseconds bound)
{
    kill(SIGTERM);
    if (auto status = wait_exit(bound))
        return status;
    kill(SIGKILL);
    return wait_exit(std::chrono::seconds(10));
}

RunResult run_program(const std::string& program, const std::vector<std::string>& args,
                      const ChildOptions& options, std::chrono::milliseconds bound)
{
    ChildProcess child(program, args, options);
    RunResult r;
    if (!child.started())
        return r;
    const auto deadline = Clock::now() + bound;
    const bool ended = child.read_to_end(bound);
    r.out = child.out();
    r.err = child.err();
    if (!ended)
        return r; // killed with the child object
    if (auto status = child.wait_exit(std::chrono::milliseconds(remaining_ms(deadline))))
        r.status = *status;
    return r;
}

} // namespace kolm::test
