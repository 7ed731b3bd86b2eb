// A program for the desktop renderer tests. Modes:
//   controls   shows "Every Control", a dialog with each kind of control;
//              prints "ready HWND LEFT TOP RIGHT BOTTOM" (its window
//              rectangle) and "command ID CODE" for each WM_COMMAND; the
//              Apply button (201) sets the status text (210) to
//              "clicked N"; OK and Cancel end it ("end ID").
//   box        shows a Yes/No question box; prints "answer N" and exits.
#include "win32.h"
#include "../../support/dialog_loop.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

namespace {

int g_clicks = 0;

constexpr DWORD kChild = WS_CHILD | WS_VISIBLE;
const DLGITEM_DATA kItems[] = {
    { "BUTTON", "&Service", BS_GROUPBOX | kChild, 6, 4, 108, 44, 200, 0 },
    { "BUTTON", "&TCP/IP", BS_AUTORADIOBUTTON | WS_GROUP | WS_TABSTOP | kChild, 14, 16, 90, 10, 202, 0 },
    { "BUTTON", "&IPX/SPX", BS_AUTORADIOBUTTON | kChild, 14, 30, 90, 10, 203, 0 },
    { "STATIC", "Mail: ops@example.com & 100%", SS_LEFT | kChild, 122, 8, 130, 10, 211, 0 },
    { "STATIC", "ready", SS_LEFT | kChild, 122, 22, 130, 10, 210, 0 },
    { "EDIT", "host@site:1", ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP | kChild, 122, 36, 130, 12, 204, 0 },
    { "EDIT", "Read-only, no border:\r\nsecond line", ES_MULTILINE | ES_READONLY | kChild, 6, 54, 108, 20, 205, 0 },
    { "EDIT", "Multi-line\r\nwith a border", ES_MULTILINE | ES_AUTOVSCROLL | WS_BORDER | WS_TABSTOP | kChild,
      122, 54, 130, 24, 206, 0 },
    { "LISTBOX", "", LBS_NOTIFY | LBS_SORT | WS_BORDER | WS_VSCROLL | WS_TABSTOP | kChild, 6, 82, 108, 40, 207, 0 },
    { "LISTBOX", "", LBS_NOTIFY | LBS_EXTENDEDSEL | WS_BORDER | WS_VSCROLL | WS_TABSTOP | kChild,
      122, 82, 130, 40, 208, 0 },
    { "BUTTON", "OK", BS_DEFPUSHBUTTON | WS_TABSTOP | kChild, 60, 130, 50, 14, IDOK, 0 },
    { "BUTTON", "&Apply", BS_PUSHBUTTON | WS_TABSTOP | kChild, 116, 130, 50, 14, 201, 0 },
    { "BUTTON", "Cancel", BS_PUSHBUTTON | WS_TABSTOP | kChild, 172, 130, 50, 14, IDCANCEL, 0 },
};
const DLGTEMPLATE_DATA kTemplate[] = {
    { 9, nullptr, WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_VISIBLE | DS_MODALFRAME, 0, 20, 20, 260, 152,
      "Every Control", "MS Sans Serif", 8, kItems, sizeof kItems / sizeof kItems[0] },
};

void fill_lists(HWND h)
{
    for (const char* s : { "COM4", "COM3", "@first", "COM2" })
        SendDlgItemMessageA(h, 207, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(s));
    SendDlgItemMessageA(h, 207, LB_SETCURSEL, 1, 0);
    for (const char* s : { "IP:localhost:1", "IP:10.0.0.2:3", "IPX:DEMO", "<empty>" })
        SendDlgItemMessageA(h, 208, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(s));
    SendDlgItemMessageA(h, 208, LB_SETSEL, TRUE, 0);
    SendDlgItemMessageA(h, 208, LB_SETSEL, TRUE, 2);
    CheckRadioButton(h, 202, 203, 202);
}

INT_PTR CALLBACK ControlsProc(HWND h, UINT msg, WPARAM w, LPARAM)
{
    switch (msg) {
    case WM_INITDIALOG:
        fill_lists(h);
        return TRUE;
    case WM_COMMAND:
        std::printf("command %u %u\n", LOWORD(w), HIWORD(w));
        std::fflush(stdout);
        if (LOWORD(w) == 201 && HIWORD(w) == BN_CLICKED) {
            char text[32];
            std::snprintf(text, sizeof text, "clicked %d", ++g_clicks);
            SetDlgItemTextA(h, 210, text);
        } else if ((LOWORD(w) == IDOK || LOWORD(w) == IDCANCEL) && HIWORD(w) == BN_CLICKED) {
            std::printf("end %u\n", LOWORD(w));
            std::fflush(stdout);
            DestroyWindow(h);
            PostQuitMessage(0);
        }
        return TRUE;
    default:
        return FALSE;
    }
}

int run_controls()
{
    RegisterDialogResources(kTemplate, 1);
    HWND dlg = CreateDialogParamA(nullptr, MAKEINTRESOURCE(9), nullptr, ControlsProc, 0);
    if (!dlg)
        return 2;
    RECT r;
    GetWindowRect(dlg, &r);
    std::printf("ready 0x%08X %ld %ld %ld %ld\n", HandleToDword(dlg), static_cast<long>(r.left),
                static_cast<long>(r.top), static_cast<long>(r.right), static_cast<long>(r.bottom));
    std::fflush(stdout);
    kolm::test::run_dialog_loop(dlg);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc >= 2 && std::strcmp(argv[1], "controls") == 0)
        return run_controls();
    if (argc >= 2 && std::strcmp(argv[1], "box") == 0) {
        const int a = MessageBoxA(nullptr, "Replace service host@site:1?", "Peer Question", MB_YESNO | MB_ICONQUESTION);
        std::printf("answer %d\n", a);
        std::fflush(stdout);
        return 0;
    }
    std::fprintf(stderr, "usage: desktop_test_peer controls|box\n");
    return 2;
}
