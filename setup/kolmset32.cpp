// kolmset32: a hidden main window with the modeless main dialog on it,
// through which the user sees and saves the redirected port's services
// and sees the state of the running redirector.
#include "kolmset32.h"

#include "datawin.h"
#include "kolmmsg.h"
#include "mydebug.h"
#include "nwservi.h"

char gszAppName[] = "KmSetup";
HINSTANCE ghInst;
HWND hWndMain;
DLGPROC lpModelessProc;
HWND hMainDlg;
HWND subDlg;
HWND helperAppHwnd;
int dialog_changes_made = 0;
int any_changes_made = 0;
RECT wrect;

namespace {

const char kSetupCaption[] = "Redirector Setup";

// The program's exit code, carried by WM_QUIT. Not 0 when Windows Sockets
// could not be started and the program ends without its dialog.
int exit_code = 0;

void init_main_dialog(HWND hDlg)
{
    hMainDlg = hDlg;
    GetWindowRect(hDlg, &wrect);
    SetWindowPos(hWndMain, hDlg, wrect.left, wrect.top, wrect.right - wrect.left, wrect.bottom - wrect.top, 0);
    if (InitWsock2(hDlg) != 0) {
        // NOTE: with neither dialog nor sockets the program has nothing to
        // offer; it ends (after the message InitWsock2 showed) instead of
        // leaving a hidden window whose loop nothing would end.
        DestroyWindow(hDlg);
        hMainDlg = nullptr;
        exit_code = 1;
        PostMessageA(hWndMain, WM_CLOSE, 0, 0);
        return;
    }
    if (load_data_win(-1) != 0)
        MessageBoxA(hDlg, "Couldn't read settings", kSetupCaption, MB_ICONEXCLAMATION);
    saveServiInfo(1);
    sync_window_to_data();
    sync_tsr_status(helperAppHwnd);
    char text[PORT_NAME_LEN + 20];
    wsprintfA(text, "Redirect %s to:", portName);
    SetDlgItemTextA(hDlg, IDC_MAIN_REDIRECT, text);
    PostMessageA(hDlg, WM_SHOW_SPLASH, 0, 0);
}

void change_services(HWND hDlg)
{
    dialog_changes_made = 0;
    DialogBoxParamA(ghInst, MAKEINTRESOURCE(IDD_SERVICES), hDlg, SubDialogProc, 0);
    if (dialog_changes_made == 1) {
        any_changes_made = 1;
        sync_window_to_data();
    }
}

void save_services(HWND hDlg)
{
    restoreServiInfo();
    if (save_data_win() == 0) {
        any_changes_made = 0;
        MessageBoxA(hDlg, "Saved settings", kSetupCaption, MB_OK);
        saveServiInfo(0);
    } else {
        MessageBoxA(hDlg, "Couldn't save settings", kSetupCaption, MB_ICONEXCLAMATION);
    }
}

// WM_CLOSE and WM_QUERYENDSESSION: 0 when the user cancelled.
LRESULT close_setup(HWND hWnd)
{
    if (any_changes_made == 1) {
        const int answer = MessageBoxA(hMainDlg, "Save setup data beforing exiting?", "Tarvizone Redirector Setup",
                                       MB_YESNOCANCEL);
        if (answer == IDCANCEL)
            return 0;
        if (answer == IDYES) {
            restoreServiInfo();
            save_data_win();
            saveServiInfo(0);
        }
    }
    if (hMainDlg && IsWindow(hMainDlg))
        SendMessageA(hMainDlg, WM_DESTROY, 0, 0);
    DestroyWindow(hWnd);
    return 1;
}

} // namespace

INT_PTR CALLBACK MainDlgBoxProc(HWND hDlg, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        init_main_dialog(hDlg);
        return TRUE;
    case WM_SHOW_SPLASH:
        DialogBoxParamA(ghInst, MAKEINTRESOURCE(IDD_SPLASH), hDlg, SplashDialogProc, 0);
        return TRUE;
    case WM_SETFOCUS:
    case WM_PAINT:
        sync_tsr_status(helperAppHwnd);
        return FALSE;
    case WM_MOVE: {
        RECT r;
        GetWindowRect(hWndMain, &r);
        MoveWindow(hDlg, r.left, r.top, r.right - r.left, r.bottom - r.top, TRUE);
        return TRUE;
    }
    case WM_SYSCOMMAND:
        SendMessageA(hWndMain, WM_SYSCOMMAND, wParam, lParam);
        return TRUE;
    case WM_COMMAND:
        switch (wParam) {
        case IDHELP:
            WinHelpA(hDlg, HELP_FILE, HELP_KEY, reinterpret_cast<ULONG_PTR>("Contents"));
            return TRUE;
        case IDC_MAIN_CHANGE:
            change_services(hDlg);
            return TRUE;
        case IDC_MAIN_DONE:
            SendMessageA(hWndMain, WM_CLOSE, 0, 0);
            return TRUE;
        case IDC_MAIN_SAVE:
            save_services(hDlg);
            return TRUE;
        }
        return TRUE;
    }
    return FALSE;
}

LRESULT CALLBACK KmSetupWndProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_MOVE:
    case WM_SETFOCUS:
        if (hMainDlg && IsWindow(hMainDlg))
            SendMessageA(hMainDlg, message, wParam, lParam);
        return 0;
    case WM_CLOSE:
    case WM_QUERYENDSESSION:
        return close_setup(hWnd);
    case WM_DESTROY:
        DeInitWsock2(hWnd);
        PostQuitMessage(exit_code);
        return 0;
    case WM_ENDSESSION:
        DeInitWsock2(hWnd);
        return 0;
    }
    return DefWindowProcA(hWnd, message, wParam, lParam);
}

void InitKmSetup(HINSTANCE hInstance, LPSTR, int)
{
    WNDCLASSA wc;
    wc.style = CS_HREDRAW | CS_VREDRAW;
    wc.lpfnWndProc = KmSetupWndProc;
    wc.cbClsExtra = 0;
    wc.cbWndExtra = 0;
    wc.hInstance = hInstance;
    wc.hIcon = LoadIconA(hInstance, MAKEINTRESOURCE(IDI_KMSETUP));
    wc.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
    wc.lpszMenuName = nullptr;
    wc.lpszClassName = gszAppName;
    RegisterClassA(&wc);
    ghInst = hInstance;

    hWndMain = CreateWindowExA(0, gszAppName, gszAppName, WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX, 10, 19, 295,
                               161, nullptr, nullptr, hInstance, nullptr);
    lpModelessProc = MainDlgBoxProc;
    if (!CreateDialogParamA(hInstance, MAKEINTRESOURCE(IDD_MAIN), hWndMain, lpModelessProc, 0)) {
        MessageBoxA(hWndMain, "Couldn't create dialog", "Setup", MB_OK);
        DestroyWindow(hWndMain);
    }
    helperAppHwnd = FindWindowA(KOLM32_CLASS, KOLM32_TITLE);
}

int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE, LPSTR lpszCmdLine, int nCmdShow)
{
    InitKmSetup(hInstance, lpszCmdLine, nCmdShow);
    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0)) {
        if (hMainDlg && IsWindow(hMainDlg) && IsDialogMessageA(hMainDlg, &msg))
            continue;
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    return static_cast<int>(msg.wParam);
}
