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


namespace kolm::test {

namespace {

DlgScript* g_script = new DlgScript;

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
    : m_child(bin_path("dialog_test_peer").string(), args, env)
{
}

Peer::~Peer() = default;

std::optional<std::string> Peer::read_line(std::chrono::milliseconds bound)
{
    return m_child.read_line(bound);
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
    return m_child.wait_exit(bound);
}

} // namespace kolm::test
