// The notice box runs on the main window's thread; other threads reach it
// only through SendNotice, which the main window procedure serialises.
#include "inotice.h"

#include <mutex>

#include "mydebug.h"
#include "shared.h"

namespace {

// Copies a notice text, cutting what would not fit.
void copy_notice(char* dst, const char* src)
{
    size_t n = strnlen(src, NOTICE_TEXT_LEN - 1);
    memcpy(dst, src, n);
    dst[n] = '\0';
}

void close_box(HWND hDlg)
{
    KillTimer(hDlg, NOTICE_TIMER);
    DestroyWindow(hDlg);
    hNoticeBox = nullptr;
}

void close_box_handing_back(HWND hDlg)
{
    if (GetActiveWindow() == hDlg)
        SetActiveWindow(hActiveBefore);
    close_box(hDlg);
}

void show_text(HWND hDlg, WPARAM wParam, const char* text)
{
    char composed[NOTICE_COMPOSED_LEN];
    char fresh[NOTICE_TEXT_LEN];
    if (text[0] == '!') {
        copy_notice(fresh, text + 1);
        wsprintfA(composed, "\n%s", fresh);
    } else {
        copy_notice(fresh, text);
        if (GetTickCount() - oldnoticetime < NOTICE_PAIR_MS) {
            const char* fmt = strlen(oldnotice) + strlen(fresh) < NOTICE_PAIR_MAX ? "\n%s\n%s" : "%s\n%s";
            wsprintfA(composed, fmt, oldnotice, fresh);
        } else {
            wsprintfA(composed, "\n%s", fresh);
        }
    }
    strcpy(oldnotice, fresh);
    oldnoticetime = GetTickCount();
    SetDlgItemTextA(hDlg, IDC_NOTICE_TEXT, composed);
    (void)wParam;
}

} // namespace

int message_ok(WORD wpar)
{
    const int d = static_cast<int>(LOBYTE(wpar)) - last_counter;
    if ((d > 0 && d < 127) || d < -128) {
        last_counter = LOBYTE(wpar);
        return 1;
    }
    OutputDBString_word("Rejecting message %04x\n", wpar);
    return 0;
}

void iNotice_mess(WORD wParam, LPARAM lParam, char type)
{
    if (!IsWindow(hNoticeBox)) {
        oldnotice[0] = '\0';
        hActiveBefore = GetActiveWindow();
        hNoticeBox = CreateDialogParamA(reinterpret_cast<HINSTANCE>(hTimerApp),
                                        MAKEINTRESOURCE(type == 0 ? IDD_NOTICE : IDD_NOTICE_OK), nullptr, NoticeProc,
                                        0);
    }
    SendMessageA(hNoticeBox, WM_NOTICE_MESS, wParam, lParam);
    ShowWindow(hNoticeBox, SW_SHOWNORMAL);
}

void iKill_Notice_mess(WORD wParam)
{
    if (!hNoticeBox)
        return;
    if (HIBYTE(wParam) != 0)
        SendMessageA(hNoticeBox, WM_NOTICE_MESS, wParam, 0);
    else
        SendMessageA(hNoticeBox, WM_KILL_NOTICE_MESS, wParam, 0);
}

INT_PTR CALLBACK NoticeProc(HWND hDlg, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        SetWindowPos(hDlg, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
        SetDlgItemTextA(hDlg, IDC_NOTICE_TEXT, " ");
        return FALSE;
    case WM_NOTICE_MESS:
        if (!message_ok(static_cast<WORD>(wParam)))
            return TRUE;
        if (lParam)
            show_text(hDlg, wParam, reinterpret_cast<const char*>(lParam));
        if (HIBYTE(wParam) != 0)
            SetTimer(hDlg, NOTICE_TIMER, HIBYTE(wParam) * 100u, nullptr);
        return TRUE;
    case WM_KILL_NOTICE_MESS:
        if (message_ok(static_cast<WORD>(wParam)))
            close_box_handing_back(hDlg);
        return TRUE;
    case WM_TIMER:
    case WM_LBUTTONDOWN:
        close_box_handing_back(hDlg);
        return TRUE;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDC_NOTICE_OK) {
            close_box(hDlg);
            return TRUE;
        }
        return FALSE;
    case WM_DESTROY:
        hNoticeBox = nullptr;
        return TRUE;
    }
    return FALSE;
}

void SendNotice(UINT msg, int hold, const char* text)
{
    HWND target = timer_app_window();
    const auto send = [&] {
        const unsigned char seq = next_notice_number();
        SendMessageA(target, msg, static_cast<WPARAM>((hold << 8) | seq), reinterpret_cast<LPARAM>(text));
    };
    // NOTE: the box's sequence check drops a notice that arrives after a
    // newer one. Senders on other threads take their number and hand the
    // notice over under one lock, so numbers reach the box in the order
    // they were taken: otherwise a pump's "closed the connection" alert
    // could lose its race with the command service's "Disconnecting." and
    // never be shown. The window's own thread delivers at once and takes no
    // lock (a holder waits for that thread to answer).
    if (GetWindowThreadProcessId(target, nullptr) == GetCurrentThreadId()) {
        send();
        return;
    }
    static std::mutex order;
    std::lock_guard lock(order);
    send();
}
