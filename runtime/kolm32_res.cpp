// The runtime's resource file: the two notice box templates.
#include "win32.h"

#include "inotice.h"

namespace {

const DWORD kNoticeStyle = DS_MODALFRAME | WS_POPUP | WS_CAPTION | WS_VISIBLE;

const DLGITEM_DATA kNoticeItems[] = {
    {"STATIC", "Redirector notice", SS_CENTER | WS_CHILD | WS_VISIBLE, 12, 8, 195, 33, IDC_NOTICE_TEXT, 0},
};

const DLGITEM_DATA kNoticeOkItems[] = {
    {"STATIC", "Redirector notice", SS_CENTER | WS_CHILD | WS_VISIBLE, 12, 8, 195, 33, IDC_NOTICE_TEXT, 0},
    {"BUTTON", "OK", BS_PUSHBUTTON | WS_CHILD | WS_VISIBLE | WS_TABSTOP, 86, 42, 50, 14, IDC_NOTICE_OK, 0},
};

const DLGTEMPLATE_DATA kTemplates[] = {
    {IDD_NOTICE, nullptr, kNoticeStyle, 0, 99, 73, 218, 48, "Tarvizone Redirector", "MS Sans Serif", 8,
     kNoticeItems, 1},
    {IDD_NOTICE_OK, nullptr, kNoticeStyle, 0, 99, 73, 218, 60, "Tarvizone Redirector", "MS Sans Serif", 8,
     kNoticeOkItems, 2},
};

} // namespace

void RegisterKolm32Resources()
{
    RegisterDialogResources(kTemplates, static_cast<int>(sizeof kTemplates / sizeof kTemplates[0]));
}
