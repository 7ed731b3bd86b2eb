#include "runtime_harness.h"

#include <atomic>
#include <fstream>
#include <mutex>

#include "data.h"
#include "datawin.h"
#include "kolm32.h"
#include "kolmmsg.h"
#include "kolmvx.h"
#include "shared.h"
#include "user/window.h"
#include "win32/winmain.h"

namespace kolm::test {

namespace {

void set_string(HKEY key, const char* name, const std::string& value)
{
    RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                   static_cast<DWORD>(value.size() + 1));
}

void write_machine(const RuntimeSetup& s)
{
    HKEY key;
    DWORD disp;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "Enum\\Root\\Ports\\0001", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                              &key, &disp),
              ERROR_SUCCESS);
    set_string(key, "Mfg", "Tarvizone");
    set_string(key, "PORTNAME", s.port_name);
    RegCloseKey(key);
    if (!s.config_key)
        return;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, keyPath, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, &disp),
              ERROR_SUCCESS);
    for (size_t i = 0; i < s.services.size() && i < 4; ++i) {
        char name[16];
        std::snprintf(name, sizeof name, "Service%zu", i);
        set_string(key, name, s.services[i]);
    }
    RegCloseKey(key);
}

} // namespace

RuntimeHarness::RuntimeHarness(RuntimeSetup setup) : m_setup(std::move(setup))
{
    static std::once_flag resources;
    // What main() does before WinMain: the resources, and the port's
    // identity for the driver.
    std::call_once(resources, [] {
        RegisterKolm32Resources();
        RegisterRedirectedPort(&redirectedPort);
    });
    write_machine(m_setup);
    if (m_setup.driver)
        m_driver = std::make_unique<platform::portdrv::ScriptedDriver>(m_setup.driver_options);
}

RuntimeHarness::~RuntimeHarness()
{
    if (running())
        stop();
    else if (m_thread.joinable())
        m_thread.join();
}

bool RuntimeHarness::start(bool expect_exit)
{
    static std::atomic<bool> ran{false};
    if (ran.exchange(true)) {
        ADD_FAILURE() << "a runtime has already run in this process; run each test in a process of its own";
        return false;
    }
    m_thread = std::thread([this] {
        m_exit = WinMain(GetModuleHandleA(nullptr), nullptr, const_cast<char*>(""), SW_SHOWNORMAL);
        // The runtime leaves its window for the system to clean up; a test
        // process does that itself, without running the runtime's teardown
        // a second time.
        if (HWND h = FindWindowA("kolm32", "kolm32")) {
            SetWindowLongA(h, GWL_WNDPROC, platform::window_proc_cookie(DefWindowProcA));
            DestroyWindow(h);
        }
        UnregisterClassA("kolm32", GetModuleHandleA(nullptr));
        m_done = true;
    });
    if (expect_exit)
        return wait_until([this] { return m_done.load(); }, std::chrono::seconds(20));
    // "A2V" is the last of the three values the runtime publishes.
    return wait_until([this] { return m_done.load() || (published("HWND") > 0 && published("A2V") > 0); },
                      std::chrono::seconds(20))
        && !m_done.load();
}

int RuntimeHarness::stop()
{
    if (HWND h = window())
        PostMessageA(h, WM_DESTROY, 0, 0);
    if (m_thread.joinable())
        m_thread.join();
    return m_exit;
}

HWND RuntimeHarness::window() const
{
    return FindWindowA("kolm32", "kolm32");
}

long long RuntimeHarness::published(const char* name) const
{
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyPath, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return -1;
    DWORD value = 0, size = sizeof value, type = 0;
    const LONG rc = RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size);
    RegCloseKey(key);
    return rc == ERROR_SUCCESS ? static_cast<long long>(value) : -1;
}

void RuntimeHarness::set_service(int slot, const std::string& stored)
{
    HKEY key;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyPath, 0, KEY_WRITE, &key), ERROR_SUCCESS);
    char name[16];
    std::snprintf(name, sizeof name, "Service%d", slot);
    set_string(key, name, stored);
    RegCloseKey(key);
}

std::vector<std::string> RuntimeHarness::screen_lines() const
{
    std::vector<std::string> lines;
    std::ifstream in(m_root.path() / "run" / "screen.log");
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

bool RuntimeHarness::wait_screen(const std::string& text, std::chrono::milliseconds bound) const
{
    return wait_until(
        [&] {
            for (const auto& l : screen_lines())
                if (l.find(text) != std::string::npos)
                    return true;
            return false;
        },
        bound);
}

int subf_count(RuntimeHarness& rt, int subf)
{
    int n = 0;
    for (const auto& s : rt.port().subfunctions())
        n += s == subf;
    return n;
}

LRESULT status_of(RuntimeHarness& rt)
{
    return SendMessageA(rt.window(), WM_GET_STATUS, 0, 0);
}

std::vector<int> positions(const std::vector<std::string>& lines, const std::vector<std::string>& texts)
{
    std::vector<int> out;
    int from = 0;
    for (const auto& t : texts) {
        int found = -1;
        for (int i = from; i < static_cast<int>(lines.size()); ++i) {
            if (lines[static_cast<size_t>(i)].find(t) != std::string::npos) {
                found = i;
                break;
            }
        }
        out.push_back(found);
        if (found >= 0)
            from = found;
    }
    return out;
}

unsigned char counter_now()
{
    return std::atomic_ref<unsigned char>(Notice_send_counter).load();
}

// A fetch may bring the last command together with a new Read, so one more
// Read is raised after that fetch: its own fetch comes only once the thread
// has handled everything the earlier one brought.
void sync_service_thread(RuntimeHarness& rt)
{
    auto fetches = [&] {
        int n = 0;
        for (const auto& c : rt.driver().calls())
            n += c.code == DIOC_SUBF && c.subfunction == SUBF_GET_COMMANDS;
        return n;
    };
    for (int round = 0; round < 2; ++round) {
        const int before = fetches();
        rt.port().raise(CMD_READ);
        ASSERT_TRUE(rt.port().wait_for([&] { return fetches() > before; }));
    }
}

} // namespace kolm::test
