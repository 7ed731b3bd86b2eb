// Helpers for the user-area tests: a recorder of window messages, and a
// message pump that waits for a condition with a safety timer as its bound.
#pragma once

#include "win32.h"

#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace kolm::test {

struct LoggedMessage {
    HWND hwnd;
    UINT message;
    WPARAM wparam;
    LPARAM lparam;
    bool operator==(const LoggedMessage&) const = default;
};

// Messages seen by window procedures, in order, from any thread.
class MessageLog {
public:
    void add(HWND h, UINT m, WPARAM w = 0, LPARAM l = 0)
    {
        std::lock_guard lock(m_mutex);
        m_entries.push_back({ h, m, w, l });
    }
    std::vector<LoggedMessage> entries() const
    {
        std::lock_guard lock(m_mutex);
        return m_entries;
    }
    // (hwnd, message) pairs only, for order checks.
    std::vector<std::pair<HWND, UINT>> order() const
    {
        std::vector<std::pair<HWND, UINT>> out;
        for (const auto& e : entries())
            out.emplace_back(e.hwnd, e.message);
        return out;
    }
    void clear()
    {
        std::lock_guard lock(m_mutex);
        m_entries.clear();
    }

private:
    mutable std::mutex m_mutex;
    std::vector<LoggedMessage> m_entries;
};

// Registers a class (failing the test if it cannot, unless it exists).
void register_class(const char* name, WNDPROC proc, int window_extra = 0);

HWND create(const char* cls, const char* title = "", DWORD style = WS_OVERLAPPEDWINDOW, HWND parent = nullptr,
            UINT id = 0);

// Runs this thread's message loop until done() holds after a message, or
// the bound passes (a thread timer marks it); false on time-out or quit.
bool pump_until(const std::function<bool()>& done, std::chrono::milliseconds bound = std::chrono::seconds(10));

// GetMessageA(hwnd, 0, 0) for at most the bound (a timer on `hwnd`, or a
// thread timer, marks it). False on time-out or WM_QUIT.
bool next_message_within(MSG& msg, HWND hwnd = nullptr,
                         std::chrono::milliseconds bound = std::chrono::seconds(10));

} // namespace kolm::test

#include <future>
#include <thread>

namespace kolm::test {

// A thread that owns one window. With `pump`, it runs a message loop until
// the object goes; without, it only waits (its queue is not read) until
// release() or the object goes.
class WindowThread {
public:
    enum class Mode { Pump, Idle };
    explicit WindowThread(const char* cls, Mode mode = Mode::Pump, const char* title = "");
    ~WindowThread();
    WindowThread(const WindowThread&) = delete;
    WindowThread& operator=(const WindowThread&) = delete;

    HWND hwnd() const { return m_hwnd; }
    DWORD thread_id() const { return m_tid; }
    // Idle mode: lets the thread end (its windows go with it).
    void release();
    void join();

    // Ends a pumping thread's loop.
    static constexpr UINT stop_message = 0x7FF0;

private:
    std::promise<void> m_release;
    bool m_released = false;
    std::thread m_thread;
    HWND m_hwnd = nullptr;
    DWORD m_tid = 0;
    Mode m_mode;
};

} // namespace kolm::test
