#include "dialog_test_util.h"

#include "test_support.h"

#include <algorithm>
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

DlgScript* g_script = new DlgScript;

bool wait_readable(int fd, std::chrono::milliseconds bound)
{
    const auto end = std::chrono::steady_clock::now() + bound;
    pollfd p { fd, POLLIN, 0 };
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
        if (left.count() < 0)
            return false;
        const int n = ::poll(&p, 1, static_cast<int>(left.count()));
        if (n > 0)
            return true;
        if (n == 0 || errno != EINTR)
            return false;
    }
}

} // namespace

std::vector<std::pair<int, int>> DlgScript::commands() const
{
    std::vector<std::pair<int, int>> out;
    for (const auto& m : log)
        if (m.message == WM_COMMAND)
            out.emplace_back(LOWORD(m.wparam), HIWORD(m.wparam));
    return out;
}

std::vector<int> DlgScript::clicks() const
{
    std::vector<int> out;
    for (const auto& [id, code] : commands())
        if (code == BN_CLICKED)
            out.push_back(id);
    return out;
}

size_t DlgScript::count(UINT message) const
{
    return static_cast<size_t>(std::count_if(log.begin(), log.end(), [&](const DlgMessage& m) { return m.message == message; }));
}

DlgScript& script()
{
    return *g_script;
}

void reset_script()
{
    *g_script = DlgScript {};
}

INT_PTR CALLBACK ScriptedDlgProc(HWND h, UINT msg, WPARAM w, LPARAM l)
{
    g_script->log.push_back({ h, msg, w, l });
    return g_script->on ? g_script->on(h, msg, w, l) : FALSE;
}

bool pump_until(const std::function<bool()>& done, HWND dlg, std::chrono::milliseconds bound)
{
    if (done())
        return true;
    const UINT_PTR timer = SetTimer(nullptr, 0, static_cast<UINT>(bound.count()), nullptr);
    bool ok = false;
    MSG m;
    while (GetMessageA(&m, nullptr, 0, 0) > 0) {
        if (m.message == WM_TIMER && !m.hwnd && m.wParam == timer)
            break;
        if (!dlg || !IsWindow(dlg) || !IsDialogMessageA(dlg, &m)) {
            TranslateMessage(&m);
            DispatchMessageA(&m);
        }
        if (done()) {
            ok = true;
            break;
        }
    }
    KillTimer(nullptr, timer);
    return ok;
}

HWND create_window(const char* title, DWORD style, int x, int y, int w, int h)
{
    static const bool registered = [] {
        WNDCLASSA wc {};
        wc.lpfnWndProc = DefWindowProcA;
        wc.lpszClassName = "DialogTestFrame";
        return RegisterClassA(&wc) != 0;
    }();
    (void)registered;
    return CreateWindowExA(0, "DialogTestFrame", title, style, x, y, w, h, nullptr, nullptr, nullptr, nullptr);
}

Peer::Peer(const std::vector<std::string>& args, const std::vector<std::string>& env)
{
    int pipefd[2];
    if (::pipe2(pipefd, O_CLOEXEC) != 0)
        return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipefd[1], STDOUT_FILENO);
    const std::string path = bin_path("dialog_test_peer").string();
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

Peer::~Peer()
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

std::optional<std::string> Peer::read_line(std::chrono::milliseconds bound)
{
    const auto end = std::chrono::steady_clock::now() + bound;
    for (;;) {
        const size_t nl = m_buffer.find('\n');
        if (nl != std::string::npos) {
            std::string line = m_buffer.substr(0, nl);
            m_buffer.erase(0, nl + 1);
            return line;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
        if (m_out < 0 || left.count() < 0 || !wait_readable(m_out, left))
            return std::nullopt;
        char buf[256];
        const ssize_t n = ::read(m_out, buf, sizeof buf);
        if (n <= 0)
            return std::nullopt;
        m_buffer.append(buf, static_cast<size_t>(n));
    }
}

HWND Peer::wait_ready()
{
    auto line = read_line();
    unsigned value = 0;
    if (!line || std::sscanf(line->c_str(), "ready 0x%x", &value) != 1)
        return nullptr;
    return DwordToHandle<HWND>(value);
}

std::optional<int> Peer::wait_exit(std::chrono::milliseconds bound)
{
    if (m_pid <= 0 || m_reaped)
        return std::nullopt;
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
