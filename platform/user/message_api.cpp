// Exported message and timer functions.
#include "user/marshal.h"
#include "user/message_pump.h"
#include "user/remote.h"
#include "user/window.h"

using namespace kolm::platform;

namespace {

BOOL fail(DWORD error)
{
    SetLastError(error);
    return FALSE;
}

// The filter of a GetMessageA/PeekMessageA call; nullopt when hWnd is not
// a window of the calling thread.
std::optional<MessageFilter> make_filter(const MessageQueue& queue, HWND hwnd, UINT min, UINT max)
{
    MessageFilter f;
    f.min = min;
    f.max = max;
    if (!hwnd)
        return f;
    f.any_window = false;
    if (reinterpret_cast<intptr_t>(hwnd) == -1) {
        f.thread_only = true;
        return f;
    }
    std::lock_guard lock(window_lock());
    Window* w = find_window_locked(hwnd_value(hwnd));
    if (!w || w->queue.get() != &queue)
        return std::nullopt;
    // The window and its descendants, as they are now.
    f.windows.push_back(w->handle);
    for (size_t i = 0; i < f.windows.size(); ++i)
        if (Window* x = find_window_locked(f.windows[i]))
            f.windows.insert(f.windows.end(), x->children.begin(), x->children.end());
    return f;
}

std::shared_ptr<MessageQueue> queue_of_local_window(HWND h)
{
    std::lock_guard lock(window_lock());
    Window* w = find_window_locked(hwnd_value(h));
    return w ? w->queue : nullptr;
}

} // namespace

BOOL GetMessageA(LPMSG lpMsg, HWND hWnd, UINT wMsgFilterMin, UINT wMsgFilterMax)
{
    if (!lpMsg) {
        SetLastError(ERROR_NOACCESS);
        return -1;
    }
    auto queue = current_queue();
    if (!queue) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return -1;
    }
    auto filter = make_filter(*queue, hWnd, wMsgFilterMin, wMsgFilterMax);
    if (!filter) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return -1;
    }
    if (!next_message(*queue, *filter, true, true, *lpMsg)) {
        SetLastError(ERROR_GEN_FAILURE);
        return -1;
    }
    return lpMsg->message == WM_QUIT ? 0 : 1;
}

BOOL PeekMessageA(LPMSG lpMsg, HWND hWnd, UINT wMsgFilterMin, UINT wMsgFilterMax, UINT wRemoveMsg)
{
    if (!lpMsg)
        return fail(ERROR_NOACCESS);
    auto queue = current_queue();
    if (!queue)
        return fail(ERROR_NOT_ENOUGH_MEMORY);
    auto filter = make_filter(*queue, hWnd, wMsgFilterMin, wMsgFilterMax);
    if (!filter)
        return fail(ERROR_INVALID_WINDOW_HANDLE);
    return next_message(*queue, *filter, (wRemoveMsg & PM_REMOVE) != 0, false, *lpMsg) ? TRUE : FALSE;
}

BOOL TranslateMessage(const MSG* lpMsg)
{
    if (!lpMsg)
        return FALSE;
    const UINT m = lpMsg->message;
    if (m != WM_KEYDOWN && m != WM_SYSKEYDOWN)
        return m == WM_KEYUP || m == WM_SYSKEYUP;
    // FIXME: no keyboard state is kept, so letters come out lower case; a
    // renderer that knows the typed character posts WM_CHAR itself.
    const WPARAM vk = lpMsg->wParam;
    WPARAM ch = 0;
    if (vk == VK_BACK || vk == VK_TAB || vk == VK_RETURN || vk == VK_ESCAPE || vk == VK_SPACE
        || (vk >= '0' && vk <= '9'))
        ch = vk;
    else if (vk >= 'A' && vk <= 'Z')
        ch = vk - 'A' + 'a';
    if (ch)
        PostMessageA(lpMsg->hwnd, m == WM_KEYDOWN ? WM_CHAR : WM_SYSCHAR, ch, lpMsg->lParam);
    return TRUE;
}

LRESULT DispatchMessageA(const MSG* lpMsg)
{
    if (!lpMsg)
        return 0;
    if (lpMsg->message == WM_TIMER && lpMsg->lParam) {
        // Only a timer procedure this thread really set is called: a posted
        // WM_TIMER (perhaps from another process) must not make us jump to
        // an address it chose.
        auto queue = current_queue_if_any();
        auto proc = reinterpret_cast<TIMERPROC>(lpMsg->lParam);
        if (queue && queue->has_timer_proc(hwnd_value(lpMsg->hwnd), lpMsg->wParam, proc))
            proc(lpMsg->hwnd, WM_TIMER, lpMsg->wParam, tick_count());
        return 0;
    }
    if (!lpMsg->hwnd)
        return 0;
    auto owner = queue_of_local_window(lpMsg->hwnd);
    if (!owner)
        return fail(ERROR_INVALID_WINDOW_HANDLE);
    if (owner != current_queue_if_any())
        return fail(ERROR_WINDOW_OF_OTHER_THREAD);
    return call_window_proc(lpMsg->hwnd, lpMsg->message, lpMsg->wParam, lpMsg->lParam);
}

BOOL PostMessageA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam)
{
    // Nothing pointed to survives the return of PostMessageA.
    if (!postable(Msg))
        return fail(ERROR_MESSAGE_SYNC_ONLY);
    MSG msg {};
    msg.hwnd = hWnd;
    msg.message = Msg;
    msg.wParam = wParam;
    msg.lParam = lParam;
    msg.time = tick_count();
    std::shared_ptr<MessageQueue> queue;
    if (!hWnd) {
        queue = current_queue();
        if (!queue)
            return fail(ERROR_NOT_ENOUGH_MEMORY);
    } else {
        switch (window_home(hWnd)) {
        case WindowHome::None:
            return fail(ERROR_INVALID_WINDOW_HANDLE);
        case WindowHome::OtherProcess:
            return remote_post_message(hWnd, Msg, wParam, lParam);
        case WindowHome::ThisProcess:
            queue = queue_of_local_window(hWnd);
            if (!queue)
                return fail(ERROR_INVALID_WINDOW_HANDLE);
            break;
        }
    }
    if (DWORD err = queue->post(msg))
        return fail(err == ERROR_INVALID_THREAD_ID ? ERROR_INVALID_WINDOW_HANDLE : err);
    return TRUE;
}

BOOL PostThreadMessageA(DWORD idThread, UINT Msg, WPARAM wParam, LPARAM lParam)
{
    if (!postable(Msg))
        return fail(ERROR_MESSAGE_SYNC_ONLY);
    auto queue = queue_of_thread(idThread);
    if (!queue)
        return fail(ERROR_INVALID_THREAD_ID);
    MSG msg {};
    msg.message = Msg;
    msg.wParam = wParam;
    msg.lParam = lParam;
    msg.time = tick_count();
    if (DWORD err = queue->post(msg))
        return fail(err);
    return TRUE;
}

VOID PostQuitMessage(int nExitCode)
{
    if (auto queue = current_queue())
        queue->post_quit(nExitCode);
}

LRESULT SendMessageA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam)
{
    switch (window_home(hWnd)) {
    case WindowHome::None:
        return fail(ERROR_INVALID_WINDOW_HANDLE);
    case WindowHome::OtherProcess:
        return remote_send_message(hWnd, Msg, wParam, lParam);
    case WindowHome::ThisProcess:
        break;
    }
    auto target = queue_of_local_window(hWnd);
    if (!target)
        return fail(ERROR_INVALID_WINDOW_HANDLE);
    if (target == current_queue_if_any())
        return call_window_proc(hWnd, Msg, wParam, lParam);
    return send_to_thread(target, hWnd, Msg, wParam, lParam);
}

BOOL InSendMessage(VOID)
{
    return handling_sent_message() ? TRUE : FALSE;
}

BOOL ReplyMessage(LRESULT lResult)
{
    return reply_to_sender(lResult) ? TRUE : FALSE;
}

UINT_PTR SetTimer(HWND hWnd, UINT_PTR nIDEvent, UINT uElapse, TIMERPROC lpTimerFunc)
{
    std::shared_ptr<MessageQueue> queue;
    if (!hWnd) {
        queue = current_queue();
        if (!queue)
            return fail(ERROR_NOT_ENOUGH_MEMORY);
    } else {
        if (window_home(hWnd) == WindowHome::OtherProcess)
            return fail(ERROR_ACCESS_DENIED);
        queue = queue_of_local_window(hWnd);
        if (!queue)
            return fail(ERROR_INVALID_WINDOW_HANDLE);
    }
    const UINT_PTR id = queue->set_timer(hwnd_value(hWnd), nIDEvent, uElapse, lpTimerFunc);
    if (!id)
        return fail(ERROR_INVALID_WINDOW_HANDLE); // the owner thread has ended
    // A window timer is known by the caller's id, and 0 would read as failure.
    return hWnd ? (nIDEvent ? nIDEvent : 1) : id;
}

BOOL KillTimer(HWND hWnd, UINT_PTR uIDEvent)
{
    std::shared_ptr<MessageQueue> queue;
    if (!hWnd) {
        queue = current_queue_if_any();
    } else {
        if (window_home(hWnd) == WindowHome::OtherProcess)
            return fail(ERROR_ACCESS_DENIED);
        queue = queue_of_local_window(hWnd);
        if (!queue)
            return fail(ERROR_INVALID_WINDOW_HANDLE);
    }
    if (!queue || !queue->kill_timer(hwnd_value(hWnd), uIDEvent))
        return fail(ERROR_INVALID_PARAMETER);
    return TRUE;
}
