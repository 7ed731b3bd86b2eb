// Dialog templates the tests share.
#pragma once

#include "win32.h"

namespace kolm::test {

enum : WORD { kEveryControl = 100, kNotice = 1, kNoticeOk = 2, kModal = 200, kKeys = 300 };

// One control of every kind the programs use.
inline const DLGITEM_DATA kEveryControlItems[] = {
    { "BUTTON", "OK", BS_DEFPUSHBUTTON | WS_TABSTOP | WS_VISIBLE, 10, 100, 50, 14, IDOK, 0 },
    { "BUTTON", "Cancel", BS_PUSHBUTTON | WS_TABSTOP | WS_VISIBLE, 70, 100, 50, 14, IDCANCEL, 0 },
    { "BUTTON", "Group", BS_GROUPBOX | WS_VISIBLE, 5, 5, 100, 40, 110, 0 },
    { "BUTTON", "A", BS_AUTORADIOBUTTON | WS_GROUP | WS_TABSTOP | WS_VISIBLE, 10, 15, 40, 10, 111, 0 },
    { "BUTTON", "B", BS_AUTORADIOBUTTON | WS_VISIBLE, 10, 27, 40, 10, 112, 0 },
    { "BUTTON", "Check", BS_AUTOCHECKBOX | WS_GROUP | WS_TABSTOP | WS_VISIBLE, 110, 15, 40, 10, 113, 0 },
    { "STATIC", "Label", SS_LEFT | WS_VISIBLE, 110, 30, 40, 8, -1, 0 },
    { "EDIT", "text", ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP | WS_VISIBLE, 10, 50, 80, 12, 114, 0 },
    { "EDIT", "multi", ES_MULTILINE | ES_READONLY | WS_VISIBLE, 100, 50, 80, 24, 115, 0 },
    { "LISTBOX", "", LBS_NOTIFY | LBS_EXTENDEDSEL | WS_VSCROLL | WS_BORDER | WS_TABSTOP | WS_VISIBLE, 10, 70, 80, 25, 116, 0 },
};

// The runtime's notice box: caption, a static text with id -1, and in the
// second form an OK button 101.
inline const DWORD kNoticeStyle = DS_MODALFRAME | WS_POPUP | WS_CAPTION | WS_VISIBLE;
inline const DLGITEM_DATA kNoticeItems[] = {
    { "STATIC", "Redirector notice", SS_CENTER | WS_CHILD | WS_VISIBLE, 12, 8, 195, 33, -1, 0 },
    { "BUTTON", "OK", BS_PUSHBUTTON | WS_CHILD | WS_VISIBLE | WS_TABSTOP, 86, 42, 50, 14, 101, 0 },
};

// Tab order: stops at 1, 3 (2 has no WS_TABSTOP), skips 4 (disabled) and
// 5 (hidden), then 6 and 7.
inline const DLGITEM_DATA kKeysItems[] = {
    { "EDIT", "one", WS_TABSTOP | WS_VISIBLE | WS_BORDER, 5, 5, 60, 12, 1001, 0 },
    { "STATIC", "label", WS_VISIBLE, 5, 20, 60, 8, 1002, 0 },
    { "EDIT", "three", WS_TABSTOP | WS_VISIBLE | WS_BORDER, 5, 30, 60, 12, 1003, 0 },
    { "BUTTON", "four", BS_PUSHBUTTON | WS_TABSTOP | WS_VISIBLE | WS_DISABLED, 5, 45, 40, 14, 1004, 0 },
    { "BUTTON", "five", BS_PUSHBUTTON | WS_TABSTOP, 50, 45, 40, 14, 1005, 0 },
    { "BUTTON", "Go", BS_DEFPUSHBUTTON | WS_TABSTOP | WS_VISIBLE, 5, 60, 40, 14, 1006, 0 },
    { "BUTTON", "Cancel", BS_PUSHBUTTON | WS_TABSTOP | WS_VISIBLE, 50, 60, 40, 14, IDCANCEL, 0 },
};

inline const DLGITEM_DATA kModalItems[] = {
    { "BUTTON", "Done", BS_DEFPUSHBUTTON | WS_TABSTOP | WS_VISIBLE, 10, 10, 50, 14, 150, 0 },
};

inline const DLGTEMPLATE_DATA kTemplates[] = {
    { kEveryControl, "EVERYTHING", WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME, 0, 10, 10, 200, 120,
      "Every Control", "MS Sans Serif", 8, kEveryControlItems, 10 },
    { kNotice, nullptr, kNoticeStyle, 0, 99, 73, 218, 48, "Tarvizone Redirector", "MS Sans Serif", 8, kNoticeItems, 1 },
    { kNoticeOk, nullptr, kNoticeStyle, 0, 99, 73, 218, 60, "Tarvizone Redirector", "MS Sans Serif", 8, kNoticeItems, 2 },
    { kModal, nullptr, WS_POPUP | WS_CAPTION | DS_MODALFRAME, 0, 20, 20, 100, 40, "Modal", "MS Sans Serif", 8, kModalItems, 1 },
    { kKeys, nullptr, WS_POPUP | WS_CAPTION | WS_VISIBLE, 0, 0, 0, 120, 80, "Keys", "MS Sans Serif", 8, kKeysItems, 7 },
};

inline void register_test_templates()
{
    RegisterDialogResources(kTemplates, static_cast<int>(sizeof kTemplates / sizeof kTemplates[0]));
}

} // namespace kolm::test
