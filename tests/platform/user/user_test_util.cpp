#include "user_test_util.h"

#include <gtest/gtest.h>

namespace kolm::test {

namespace {
constexpr UINT_PTR bound_timer_id = 0x7B0D;
}

void register_class(const char* name, WNDPROC proc, int window_extra)
{
    WNDCLASSA wc {};
    wc.lpfnWndProc = proc;
    wc.cbWndExtra = window_extra;
    wc.lpszClassName = name;
    // Classes live as long as the process, and a test may run again in it.
    if (!RegisterClassA(&wc) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS)
        ADD_FAILURE() << "RegisterClassA(" << name << ") failed: " << GetLastError();
}

HWND create(const char* cls, const char* title, DWORD style, HWND parent, UINT id)
{
    HWND h = CreateWindowExA(0, cls, title, style, 0, 0, 100, 50, parent,
                             reinterpret_cast<HMENU>(static_cast<uintptr_t>(id)), nullptr, nullptr);
    if (!h)
        ADD_FAILURE() << "CreateWindowExA(" << cls << ") failed: " << GetLastError();
    return h;
}

bool pump_until(const std::function<bool()>& done, std::chrono::milliseconds bound)
{
    if (done())
        return true;
    const UINT_PTR timer = SetTimer(nullptr, 0, static_cast<UINT>(bound.count()), nullptr);
    bool ok = false;
    MSG m;
    while (GetMessageA(&m, nullptr, 0, 0) > 0) {
        if (m.message == WM_TIMER && !m.hwnd && m.wParam == timer)
            break;
        DispatchMessageA(&m);
        if (done()) {
            ok = true;
            break;
        }
    }
    KillTimer(nullptr, timer);
    return ok;
}

bool next_message_within(MSG& msg, HWND hwnd, std::chrono::milliseconds bound)
{
    const UINT_PTR timer = SetTimer(hwnd, hwnd ? bound_timer_id : 0, static_cast<UINT>(bound.count()), nullptr);
    const bool got = GetMessageA(&msg, hwnd, 0, 0) > 0;
    KillTimer(hwnd, timer);
    return got && !(msg.message == WM_TIMER && msg.hwnd == hwnd && msg.wParam == timer);
}

} // namespace kolm::test

#include "user/message_queue.h"

namespace kolm::test {

WindowThread::WindowThread(const char* cls, Mode mode, const char* title)
    : m_mode(mode)
{
    auto made = std::make_shared<std::promise<std::pair<HWND, DWORD>>>();
    auto made_future = made->get_future();
    auto release = m_release.get_future();
    const std::string cls_name = cls;
    const std::string title_text = title;
    m_thread = std::thread([this, made, cls_name, title_text, release = std::move(release)]() mutable {
        HWND h = create(cls_name.c_str(), title_text.c_str());
        made->set_value({ h, kolm::platform::current_thread_id() });
        if (m_mode == Mode::Idle) {
            release.wait();
            return;
        }
        MSG m;
        while (GetMessageA(&m, nullptr, 0, 0) > 0) {
            if (!m.hwnd && m.message == stop_message)
                break;
            DispatchMessageA(&m);
        }
        if (IsWindow(h))
            DestroyWindow(h);
    });
    if (made_future.wait_for(std::chrono::seconds(10)) == std::future_status::ready)
        std::tie(m_hwnd, m_tid) = made_future.get();
    else
        ADD_FAILURE() << "window thread did not start";
}

void WindowThread::release()
{
    if (!m_released) {
        m_released = true;
        m_release.set_value();
    }
}

void WindowThread::join()
{
    if (m_mode == Mode::Pump && m_tid)
        PostThreadMessageA(m_tid, stop_message, 0, 0);
    release();
    if (m_thread.joinable())
        m_thread.join();
}

WindowThread::~WindowThread()
{
    join();
}

} // namespace kolm::test
