// Helpers for the dialog tests: a recording dialog procedure that a test
// can script, a bounded message loop, and a peer process.
#pragma once

#include "child_process.h"

#include "win32.h"

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace kolm::test {

struct DlgMessage {
    HWND hwnd;
    UINT message;
    WPARAM wparam;
    LPARAM lparam;
};

// The procedure of the dialogs a test creates: records every message and
// lets `on` answer it (FALSE when `on` is empty). One per test; tests run
// one at a time.
struct DlgScript {
    std::function<INT_PTR(HWND, UINT, WPARAM, LPARAM)> on;
    std::vector<DlgMessage> log;

    // The WM_COMMAND messages recorded, as (id, notification code) pairs.
    std::vector<std::pair<int, int>> commands() const;
    // The ids of the WM_COMMAND messages with BN_CLICKED.
    std::vector<int> clicks() const;
    size_t count(UINT message) const;
};
DlgScript& script();
void reset_script();
INT_PTR CALLBACK ScriptedDlgProc(HWND, UINT, WPARAM, LPARAM);

// Runs this thread's messages (through IsDialogMessageA of `dlg` when
// given) until done() holds, or the bound passes; false at the bound.
bool pump_until(const std::function<bool()>& done, HWND dlg = nullptr,
                std::chrono::milliseconds bound = std::chrono::seconds(10));

HWND create_window(const char* title, DWORD style = WS_OVERLAPPEDWINDOW | WS_VISIBLE, int x = 100, int y = 50,
                   int w = 300, int h = 200);

// A child process running dialog_test_peer with the given arguments.
class Peer {
public:
    explicit Peer(const std::vector<std::string>& args, const std::vector<std::string>& env = {});
    ~Peer();
    Peer(const Peer&) = delete;
    Peer& operator=(const Peer&) = delete;

    // The next line it writes on standard output, within the bound.
    std::optional<std::string> read_line(std::chrono::milliseconds bound = std::chrono::seconds(10));
    // Reads "ready 0x%08X" and returns the handle.
    HWND wait_ready();
    // Its exit status, or nullopt while it still runs at the bound.
    std::optional<int> wait_exit(std::chrono::milliseconds bound = std::chrono::seconds(10));

private:
    ChildProcess m_child;
};

} // namespace kolm::test
