// Runs the runtime in-process against a scripted port driver: WinMain on a
// thread of its own (the runtime's main thread), in a fresh machine root
// with the configuration key and one redirected port. One runtime runs per
// process, as the program does: its service thread and its globals last
// until the process ends, so runtime_main.cpp gives each test a process of
// its own.
#pragma once

#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "portdrv/scripted_port.h"
#include "test_support.h"
#include "win32.h"

namespace kolm::test {

struct RuntimeSetup {
    bool config_key = true;      // SOFTWARE\Tarvizone\Redirector\1.0 exists
    bool driver = true;          // a scripted driver answers \\.\KOLMVX.VXD
    platform::portdrv::DriverOptions driver_options{};
    std::string port_name = "COM3";
    std::vector<std::string> services; // stored texts of Service0..3
};

class RuntimeHarness {
public:
    explicit RuntimeHarness(RuntimeSetup setup = {});
    ~RuntimeHarness();

    // Starts WinMain; true once the runtime has published its window (or,
    // when `expect_exit`, once WinMain has returned). Fails when a runtime
    // has already run in this process.
    bool start(bool expect_exit = false);
    // Posts WM_DESTROY and waits for WinMain to return; its exit code.
    int stop();
    bool running() const { return m_thread.joinable() && !m_done.load(); }
    int exit_code() const { return m_exit; }

    HWND window() const;
    platform::portdrv::ScriptedPort& port() { return *m_driver->port; }
    platform::portdrv::PortDriver& driver() { return *m_driver->driver; }
    const std::filesystem::path& root() const { return m_root.path(); }

    // A REG_DWORD of the configuration key, or -1 when absent.
    long long published(const char* name) const;
    void set_service(int slot, const std::string& stored);

    // Screen log lines so far, and waiting for one containing `text`.
    std::vector<std::string> screen_lines() const;
    bool wait_screen(const std::string& text, std::chrono::milliseconds bound = std::chrono::seconds(20)) const;

private:
    TempRoot m_root;
    RuntimeSetup m_setup;
    std::unique_ptr<platform::portdrv::ScriptedDriver> m_driver;
    std::thread m_thread;
    std::atomic<bool> m_done{false};
    int m_exit = -100;
    HWND m_hwnd = nullptr;
};

// Checks shared by the runtime's suites.
// How often the runtime has sent sub-function `subf` to the driver.
int subf_count(RuntimeHarness& rt, int subf);
// The runtime's answer to WM_GET_STATUS.
LRESULT status_of(RuntimeHarness& rt);
// Indexes of the screen lines that contain each text, in order; -1 where
// a text is missing.
std::vector<int> positions(const std::vector<std::string>& lines, const std::vector<std::string>& texts);
unsigned char counter_now();
// Makes sure the service thread has handled every command raised so far.
void sync_service_thread(RuntimeHarness& rt);

} // namespace kolm::test
