// The installer's program: its hidden main window, the interactive
// installation and the script mode.
#include "install.h"

namespace {

// The path of length `len` in the edit field fits the 100-character path
// with its closing backslash.
bool pathFits(HWND hDlg, int len)
{
    if (len < static_cast<int>(sizeof scriptData.path) - 1)
        return true;
    if (len > static_cast<int>(sizeof scriptData.path) - 1)
        return false;
    char text[sizeof scriptData.path];
    GetDlgItemTextA(hDlg, IDC_DESTPATH, text, sizeof text);
    return text[len - 1] == '\\';
}

// The script named on the command line; one pair of quotes around it, as
// a path with blanks comes, is not part of the name.
const char* scriptName(char* cmdLine)
{
    const size_t len = std::strlen(cmdLine);
    if (len >= 2 && cmdLine[0] == '"' && cmdLine[len - 1] == '"') {
        cmdLine[len - 1] = '\0';
        return cmdLine + 1;
    }
    return cmdLine;
}

} // namespace

INT_PTR CALLBACK InstallDlgProc(HWND hDlg, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG:
        hMainDlg = hDlg;
        CheckRadioButton(hDlg, IDC_AUTOMATIC, IDC_MANUAL, IDC_AUTOMATIC);
        return TRUE;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDOK:
            EndDialog(hDlg, IsDlgButtonChecked(hDlg, IDC_AUTOMATIC) ? IDC_AUTOMATIC : IDC_MANUAL);
            return TRUE;
        case IDCANCEL:
            EndDialog(hDlg, IDCANCEL);
            return TRUE;
        }
        break;
    }
    return FALSE;
}

INT_PTR CALLBACK PathDlgProc(HWND hDlg, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG:
        SetDlgItemTextA(hDlg, IDC_DESTPATH, defaultAppPath);
        return TRUE;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDOK: {
            // NOTE: a path with no room left for its closing backslash is
            // refused here, and the dialog stays open for another.
            const int len = GetWindowTextLengthA(GetDlgItem(hDlg, IDC_DESTPATH));
            if (!pathFits(hDlg, len)) {
                ErrMsg(hDlg, "The destination path is too long: at most %d characters, or %d ending in \\",
                       static_cast<int>(sizeof scriptData.path) - 2, static_cast<int>(sizeof scriptData.path) - 1);
                return TRUE;
            }
            GetDlgItemTextA(hDlg, IDC_DESTPATH, scriptData.path, sizeof scriptData.path);
            EndDialog(hDlg, IDOK);
            checkPath(scriptData.path);
            return TRUE;
        }
        case IDCANCEL:
            EndDialog(hDlg, IDCANCEL);
            return TRUE;
        case IDC_PATHHELP:
            return TRUE;
        }
        break;
    }
    return FALSE;
}

int startInteractive(HWND hWnd)
{
    const INT_PTR method = DialogBoxParamA(ghInst, MAKEINTRESOURCE(IDD_METHOD), hWnd, InstallDlgProc, 0);
    if (method == IDC_MANUAL) {
        WinHelpA(hWnd, helpFile, HELP_CONTEXT, HELP_MANUAL);
        return 0;
    }
    if (method != IDC_AUTOMATIC)
        return 0;
    if (DialogBoxParamA(ghInst, MAKEINTRESOURCE(IDD_PATH), hWnd, PathDlgProc, 0) != IDOK)
        return 0;
    gotError = 0;
    int abort = 0;
    doit(hWnd, &abort);
    if (abort) {
        InfoMsg(hWnd, "Installation aborted.");
    } else if (gotError) {
        ErrMsg(hWnd, "An error was encountered.  Try running the custom installation.");
    } else {
        InfoMsg(hWnd, "%s", successText);
        WinHelpA(hWnd, helpFile, HELP_CONTEXT, HELP_DONE);
    }
    return 0;
}

LRESULT CALLBACK WndProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (doAuto)
        return DefWindowProcA(hWnd, message, wParam, lParam);
    switch (message) {
    case WM_CREATE:
        startInteractive(hWnd);
        PostQuitMessage(0);
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    case WM_MOVE:
    case WM_SETFOCUS:
        if (IsWindow(hMainDlg))
            SendMessageA(hMainDlg, message, wParam, lParam);
        return 0;
    }
    return DefWindowProcA(hWnd, message, wParam, lParam);
}

// Script mode ends with 0 when the setup program was started, 1 after an
// error box, 2 when the update was declined and 3 when the script could
// not be read.
int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE, LPSTR LpszCmdLine, int)
{
    doAuto = LpszCmdLine && *LpszCmdLine ? 1 : 0;
    ghInst = hInstance;
    WNDCLASSA wc;
    wc.style = CS_HREDRAW | CS_VREDRAW;
    wc.lpfnWndProc = WndProc;
    wc.cbClsExtra = 0;
    wc.cbWndExtra = 0;
    wc.hInstance = hInstance;
    wc.hIcon = LoadIconA(hInstance, MAKEINTRESOURCE(IDI_INSTALL));
    wc.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
    wc.lpszMenuName = nullptr;
    wc.lpszClassName = gszAppName;
    if (!RegisterClassA(&wc))
        return 0;
    hWndMain = CreateWindowA(gszAppName, gszAppName, WS_OVERLAPPEDWINDOW, 10, 19, 295, 161, nullptr, nullptr,
                             hInstance, nullptr);
    if (!doAuto) {
        MSG msg;
        while (GetMessageA(&msg, nullptr, 0, 0) != 0) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        return static_cast<int>(msg.wParam);
    }
    std::memset(&scriptData, 0, sizeof scriptData);
    if (parseScript(hWndMain, scriptName(LpszCmdLine)) != 0)
        return 3;
    int abort = 0;
    doit(hWndMain, &abort);
    return abort ? 2 : gotError ? 1 : 0;
}
