// A second process for the dialog tests. Modes:
//   dialog          shows a dialog with a list box (102, extended selection,
//                   notifying), an edit (106) and OK; prints "ready 0x%08X"
//                   with the dialog's handle; every LBN_SELCHANGE sets the
//                   edit to "selchange N"; Cancel (or WM_CLOSE) ends it.
//   boxes N PREFIX  shows N message boxes (Yes/No) with texts PREFIX0 ...;
//                   prints "answers A,B,..." and exits.
#include "win32.h"
#include "../../support/dialog_loop.h"

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

int g_selchanges = 0;

const DLGITEM_DATA kItems[] = {
    { "LISTBOX", "", LBS_NOTIFY | LBS_EXTENDEDSEL | WS_BORDER | WS_TABSTOP | WS_VISIBLE, 5, 5, 100, 60, 102, 0 },
    { "EDIT", "", ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP | WS_VISIBLE, 5, 70, 100, 12, 106, 0 },
    { "BUTTON", "OK", BS_DEFPUSHBUTTON | WS_TABSTOP | WS_VISIBLE, 5, 90, 40, 14, IDOK, 0 },
};
const DLGTEMPLATE_DATA kTemplate[] = {
    { 7, nullptr, WS_POPUP | WS_CAPTION | WS_VISIBLE, 0, 10, 10, 120, 110, "Peer Dialog", "MS Sans Serif", 8, kItems, 3 },
};

INT_PTR CALLBACK PeerDlgProc(HWND h, UINT msg, WPARAM w, LPARAM)
{
    switch (msg) {
    case WM_INITDIALOG:
        return TRUE;
    case WM_COMMAND:
        if (LOWORD(w) == 102 && HIWORD(w) == LBN_SELCHANGE) {
            char text[32];
            std::snprintf(text, sizeof text, "selchange %d", ++g_selchanges);
            SetDlgItemTextA(h, 106, text);
            return TRUE;
        }
        if (LOWORD(w) == IDCANCEL) {
            DestroyWindow(h);
            PostQuitMessage(0);
            return TRUE;
        }
        return FALSE;
    default:
        return FALSE;
    }
}

int run_dialog()
{
    RegisterDialogResources(kTemplate, 1);
    HWND dlg = CreateDialogParamA(nullptr, MAKEINTRESOURCE(7), nullptr, PeerDlgProc, 0);
    if (!dlg)
        return 2;
    std::printf("ready 0x%08X\n", HandleToDword(dlg));
    std::fflush(stdout);
    kolm::test::run_dialog_loop(dlg);
    return 0;
}

int run_boxes(int count, const char* prefix)
{
    std::string answers;
    for (int i = 0; i < count; ++i) {
        const std::string text = prefix + std::to_string(i);
        const int a = MessageBoxA(nullptr, text.c_str(), "Peer", MB_YESNO);
        answers += (i ? "," : "") + std::to_string(a);
    }
    std::printf("answers %s\n", answers.c_str());
    std::fflush(stdout);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc >= 2 && std::string(argv[1]) == "dialog")
        return run_dialog();
    if (argc >= 4 && std::string(argv[1]) == "boxes")
        return run_boxes(std::atoi(argv[2]), argv[3]);
    std::fprintf(stderr, "usage: dialog_test_peer dialog | boxes N PREFIX\n");
    return 2;
}
