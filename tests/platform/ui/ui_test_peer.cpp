// A program with a dialog of every control kind, for the tests of kolmwin's
// dialog verbs and of the desktop renderer. Modes:
//   dialog   shows the dialog and prints "ready 0x%08X" with its handle;
//            every WM_COMMAND it gets is printed as "command ID CODE";
//            "More..." opens a modal dialog ("nested 0x%08X" when shown,
//            "nested-ended" after); OK or Cancel ends the program.
//   notice   shows a topmost notice box with a changing text, then the
//            dialog, as the runtime does; prints "ready 0x%08X" with the
//            dialog's handle.
#include "win32.h"
#include "../../support/dialog_loop.h"

#include <cstdio>
#include <string>

namespace {

constexpr int kDialog = 7;
constexpr int kNested = 8;
constexpr int kNotice = 9;

const DLGITEM_DATA kItems[] = {
    { "BUTTON", "Protocol", BS_GROUPBOX | WS_VISIBLE, 5, 5, 110, 40, -1, 0 },
    { "BUTTON", "&IP", BS_AUTORADIOBUTTON | WS_GROUP | WS_TABSTOP | WS_VISIBLE, 12, 16, 40, 10, 111, 0 },
    { "BUTTON", "IP&X", BS_AUTORADIOBUTTON | WS_VISIBLE, 12, 29, 40, 10, 112, 0 },
    { "BUTTON", "Trace", BS_AUTOCHECKBOX | WS_TABSTOP | WS_VISIBLE, 60, 16, 50, 10, 110, 0 },
    { "STATIC", "Port @ COM3 (100%)", SS_LEFT | WS_VISIBLE, 5, 50, 110, 8, -1, 0 },
    { "EDIT", "host:1", ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP | WS_VISIBLE, 5, 60, 110, 12, 106, 0 },
    { "EDIT", "Status line one\r\nline two", ES_MULTILINE | ES_READONLY | WS_BORDER | WS_VISIBLE, 5, 76, 110, 24,
      107, 0 },
    { "LISTBOX", "", LBS_NOTIFY | WS_BORDER | WS_VSCROLL | WS_TABSTOP | WS_VISIBLE, 120, 5, 90, 60, 102, 0 },
    { "BUTTON", "OK", BS_DEFPUSHBUTTON | WS_TABSTOP | WS_VISIBLE, 120, 70, 40, 14, IDOK, 0 },
    { "BUTTON", "More...", BS_PUSHBUTTON | WS_TABSTOP | WS_VISIBLE, 170, 70, 40, 14, 130, 0 },
    { "BUTTON", "Remove", BS_PUSHBUTTON | WS_TABSTOP | WS_VISIBLE | WS_DISABLED, 120, 88, 40, 14, 120, 0 },
    { "BUTTON", "Cancel", BS_PUSHBUTTON | WS_TABSTOP | WS_VISIBLE, 170, 88, 40, 14, IDCANCEL, 0 },
};
const DLGITEM_DATA kNestedItems[] = {
    { "STATIC", "A modal dialog.", SS_LEFT | WS_VISIBLE, 5, 5, 90, 8, -1, 0 },
    { "BUTTON", "OK", BS_DEFPUSHBUTTON | WS_TABSTOP | WS_VISIBLE, 30, 20, 40, 14, IDOK, 0 },
};
const DLGITEM_DATA kNoticeItems[] = {
    { "STATIC", "", SS_CENTER | WS_VISIBLE, 5, 5, 170, 24, -1, 0 },
    { "BUTTON", "OK", BS_DEFPUSHBUTTON | WS_TABSTOP | WS_VISIBLE, 70, 32, 40, 14, 101, 0 },
};
const DLGTEMPLATE_DATA kTemplates[] = {
    { kNotice, nullptr, WS_POPUP | WS_CAPTION | WS_VISIBLE, WS_EX_TOPMOST, 60, 60, 180, 50,
      "Tarvizone Redirector", "MS Sans Serif", 8, kNoticeItems, 2 },
    { kDialog, nullptr, WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_VISIBLE, 0, 10, 10, 215, 108, "Every Control",
      "MS Sans Serif", 8, kItems, static_cast<int>(sizeof kItems / sizeof kItems[0]) },
    { kNested, nullptr, WS_POPUP | WS_CAPTION | DS_MODALFRAME, 0, 30, 30, 100, 40, "Nested", "MS Sans Serif", 8,
      kNestedItems, 2 },
};

void say(const char* format, unsigned value1, unsigned value2 = 0)
{
    std::printf(format, value1, value2);
    std::fflush(stdout);
}

INT_PTR CALLBACK NestedProc(HWND h, UINT msg, WPARAM w, LPARAM)
{
    if (msg == WM_INITDIALOG) {
        say("nested 0x%08X\n", HandleToDword(h));
        return TRUE;
    }
    if (msg == WM_COMMAND && (LOWORD(w) == IDOK || LOWORD(w) == IDCANCEL)) {
        EndDialog(h, LOWORD(w));
        return TRUE;
    }
    return FALSE;
}

INT_PTR CALLBACK DialogProc(HWND h, UINT msg, WPARAM w, LPARAM)
{
    switch (msg) {
    case WM_INITDIALOG:
        for (const char* s : { "[IP ]host:1", "[IPX]server", "[IP ]other:2" })
            SendDlgItemMessageA(h, 102, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(s));
        CheckRadioButton(h, 111, 112, 111);
        return TRUE;
    case WM_COMMAND:
        say("command %u %u\n", LOWORD(w), HIWORD(w));
        if (LOWORD(w) == 130 && HIWORD(w) == BN_CLICKED) {
            DialogBoxParamA(nullptr, MAKEINTRESOURCE(kNested), h, NestedProc, 0);
            say("nested-ended\n", 0);
            return TRUE;
        }
        if (LOWORD(w) == IDOK || LOWORD(w) == IDCANCEL) {
            DestroyWindow(h);
            PostQuitMessage(0);
            return TRUE;
        }
        return FALSE;
    default:
        return FALSE;
    }
}

INT_PTR CALLBACK NoticeProc(HWND h, UINT msg, WPARAM w, LPARAM)
{
    if (msg == WM_INITDIALOG) {
        SetWindowPos(h, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
        SetDlgItemTextA(h, -1, "\nAttempting to connect to service host:1");
        return FALSE;
    }
    if (msg == WM_COMMAND && LOWORD(w) == 101) {
        DestroyWindow(h);
        return TRUE;
    }
    return FALSE;
}

int run(bool notice)
{
    RegisterDialogResources(kTemplates, 3);
    if (notice)
        CreateDialogParamA(nullptr, MAKEINTRESOURCE(kNotice), nullptr, NoticeProc, 0);
    HWND dlg = CreateDialogParamA(nullptr, MAKEINTRESOURCE(kDialog), nullptr, DialogProc, 0);
    if (!dlg)
        return 2;
    say("ready 0x%08X\n", HandleToDword(dlg));
    kolm::test::run_dialog_loop(dlg);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    const std::string mode = argc >= 2 ? argv[1] : "";
    if (mode == "dialog" || mode == "notice")
        return run(mode == "notice");
    std::fprintf(stderr, "usage: ui_test_peer dialog | notice\n");
    return 2;
}
