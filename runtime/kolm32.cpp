// kolm32: a hidden window that is the runtime's mailbox, and its message
// loop. All other work runs on the service and pump threads.
#include "kolm32.h"

#include "iface32.h"
#include "iface32_cmd.h"
#include "inotice.h"
#include "kolmmsg.h"
#include "mydebug.h"
#include "netstuff.h"

int ghInstance;
char gszAppName[] = KOLM32_CLASS;

namespace {

void teardown()
{
    dprintf("kolm32: got WM_DESTROY\n");
    DeInitVxD();
    ClearHwnd();
    InitDLLTimer(nullptr, nullptr);
    PostQuitMessage(0);
}

void prep_disconnect(HWND hWnd)
{
    if (SetTimer(hWnd, PREP_DISCONNECT_TIMER, PREP_DISCONNECT_PERIOD, nullptr) == 0)
        return;
    SendNotice(WM_NOTICE, 0, "Preparing to disconnect.");
}

} // namespace

LRESULT CALLBACK WndProc(HWND hWnd, UINT iMessage, WPARAM wParam, LPARAM lParam)
{
    switch (iMessage) {
    case WM_CREATE:
        InitDLLTimer(hWnd, reinterpret_cast<HINSTANCE>(static_cast<intptr_t>(ghInstance)));
        return 0;
    case WM_DESTROY:
    case WM_ENDSESSION:
        // NOTE: the end of the session is honoured even when it was
        // cancelled (wParam FALSE); the runtime ends either way.
        teardown();
        return 0;
    case WM_QUERYENDSESSION:
        return 1;
    case WM_COMMAND:
        if (wParam != ID_DRIVER_CMD)
            break;
        doVxDCmd(static_cast<LONG>(lParam));
        return 0;
    case WM_TIMER:
        return 0;
    case WM_NOTICE:
        iNotice_mess(static_cast<WORD>(wParam), lParam, 0);
        return 0;
    case WM_NOTICE_ALERT:
        iNotice_mess(static_cast<WORD>(wParam), lParam, 1);
        return 0;
    case WM_KILL_NOTICE:
        iKill_Notice_mess(static_cast<WORD>(wParam));
        return 0;
    case WM_PREP_DISCONNECT:
        prep_disconnect(hWnd);
        return 0;
    case WM_REDIR_NOP:
        return 0;
    case WM_SOCKET_NOTIFY:
        dprintf("kolm32: select: unknown %d\n", static_cast<int>(static_cast<short>(LOWORD(lParam))));
        return 0;
    case WM_GET_STATUS:
        ReplyMessage(getStatus());
        return 0;
    }
    return DefWindowProcA(hWnd, iMessage, wParam, lParam);
}

int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE hPrevInstance, LPSTR LpszCmdLine, int nCmdShow)
{
    (void)LpszCmdLine;
    (void)nCmdShow;
    ghInstance = static_cast<int>(reinterpret_cast<intptr_t>(hInstance));
    if (!hPrevInstance) {
        WNDCLASSA wc;
        wc.style = CS_HREDRAW | CS_VREDRAW;
        wc.lpfnWndProc = WndProc;
        wc.cbClsExtra = 0;
        wc.cbWndExtra = 0;
        wc.hInstance = hInstance;
        wc.hIcon = LoadIconA(hInstance, gszAppName);
        wc.hCursor = LoadCursorA(nullptr, IDC_ARROW);
        wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
        wc.lpszMenuName = nullptr;
        wc.lpszClassName = gszAppName;
        if (!RegisterClassA(&wc))
            return 0;
    }
    HWND hWnd = CreateWindowExA(0, gszAppName, KOLM32_TITLE, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT,
                                CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr, hInstance, nullptr);
    // NOTE: a runtime that cannot set up its events, its service thread or
    // its registry values ends with a non-zero code, so a supervisor sees it.
    if (InitEvents(hWnd) != 0)
        return 1;
    UpdateWindow(hWnd);
    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) != 0) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    return static_cast<int>(msg.wParam);
}
