#include "devsim_process.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <cstdlib>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include "test_support.h"

namespace kolm::test {

namespace {

constexpr int kReadyBoundMs = 10000;

} // namespace

DevsimProcess::DevsimProcess(const std::vector<std::string>& args, const std::string& program)
{
    const std::string path = bin_path(program).string();
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0) {
        m_error = "pipe failed";
        return;
    }
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(path.c_str()));
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    m_pid = ::fork();
    if (m_pid == 0) {
        ::dup2(out[1], STDOUT_FILENO);
        ::execv(path.c_str(), argv.data());
        ::_exit(127);
    }
    ::close(out[1]);
    if (m_pid < 0) {
        ::close(out[0]);
        m_error = "fork failed";
        return;
    }
    std::string text;
    char buf[512];
    for (;;) {
        pollfd p{out[0], POLLIN, 0};
        const int n = ::poll(&p, 1, kReadyBoundMs);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            m_error = program + " did not print ready";
            break;
        }
        const ssize_t got = ::read(out[0], buf, sizeof buf);
        if (got <= 0) {
            m_error = program + " ended before it was ready";
            break;
        }
        text.append(buf, static_cast<size_t>(got));
        size_t eol;
        while ((eol = text.find('\n')) != std::string::npos) {
            const std::string line = text.substr(0, eol);
            text.erase(0, eol + 1);
            if (line == "ready")
                m_ready = true;
            else
                m_lines.push_back(line);
        }
        if (m_ready)
            break;
    }
    // Nothing more is read; devsim writes nothing after "ready".
    ::close(out[0]);
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
    if (m_pid <= 0)
        return false;
    ::kill(m_pid, SIGTERM);
    int status = 0;
    while (::waitpid(m_pid, &status, 0) < 0 && errno == EINTR) {
    }
    m_pid = -1;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

} // namespace kolm::test
