// The setup utility's resource file: dialogs 2 to 6, icon 7 and the help
// topics it asks WinHelp for.
#include "kolmset32.h"

namespace {

const DWORD kChild = WS_CHILD | WS_VISIBLE;
const DWORD kButton = BS_PUSHBUTTON | kChild | WS_TABSTOP;
const DWORD kDefButton = BS_DEFPUSHBUTTON | kChild | WS_TABSTOP;
const DWORD kGroup = BS_GROUPBOX | kChild;
const DWORD kLabel = SS_LEFT | kChild;
const DWORD kModal = DS_MODALFRAME | WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_VISIBLE;

const DLGITEM_DATA kMainItems[] = {
    { "BUTTON", "Services", kGroup, 6, 4, 204, 114, IDC_MAIN_GROUP, 0 },
    { "EDIT", "Redirect COMx to:", ES_LEFT | ES_READONLY | kChild, 14, 16, 188, 10, IDC_MAIN_REDIRECT, 0 },
    { "LISTBOX", "", LBS_NOTIFY | WS_VSCROLL | WS_BORDER | kChild | WS_TABSTOP, 14, 30, 188, 80, IDC_MAIN_LIST, 0 },
    { "BUTTON", "Change", kButton, 224, 10, 56, 14, IDC_MAIN_CHANGE, 0 },
    { "BUTTON", "Save", kButton, 224, 30, 56, 14, IDC_MAIN_SAVE, 0 },
    { "BUTTON", "Help", kButton, 224, 50, 56, 14, IDHELP, 0 },
    { "BUTTON", "Done", kButton, 224, 104, 56, 14, IDC_MAIN_DONE, 0 },
    { "STATIC", "Redirector status:", kLabel, 6, 130, 80, 10, -1, 0 },
    { "EDIT", "", ES_LEFT | ES_READONLY | WS_BORDER | kChild, 88, 128, 192, 12, IDC_MAIN_STATUS, 0 },
};

const DLGITEM_DATA kServiceItems[] = {
    { "BUTTON", "Selected Services", kGroup, 6, 4, 190, 150, IDC_SEL_GROUP, 0 },
    { "EDIT", "COM1", ES_LEFT | ES_READONLY | kChild, 14, 16, 40, 10, IDC_SEL_PORT, 0 },
    { "EDIT", "will be redirected to the first available service from this list:",
      ES_LEFT | ES_MULTILINE | ES_READONLY | kChild, 14, 28, 174, 18, IDC_SEL_EXPLAIN, 0 },
    { "LISTBOX", "", LBS_NOTIFY | LBS_EXTENDEDSEL | WS_VSCROLL | WS_BORDER | kChild | WS_TABSTOP, 14, 50, 120, 98,
      IDC_SEL_LIST, 0 },
    { "BUTTON", "Remove", kButton, 142, 50, 46, 14, IDC_SEL_REMOVE, 0 },
    { "STATIC", "Reorder:", kLabel, 142, 76, 46, 10, -1, 0 },
    { "BUTTON", "First", kButton, 142, 88, 46, 14, IDC_SEL_FIRST, 0 },
    { "BUTTON", "Last", kButton, 142, 106, 46, 14, IDC_SEL_LAST, 0 },
    { "BUTTON", "Add IP", kButton, 14, 160, 56, 14, IDC_SEL_ADD_IP, 0 },
    { "BUTTON", "Add IPX", kButton, 76, 160, 56, 14, IDC_SEL_ADD_IPX, 0 },
    { "BUTTON", "OK", kDefButton, 14, 180, 50, 14, IDOK, 0 },
    { "BUTTON", "Cancel", kButton, 76, 180, 50, 14, IDCANCEL, 0 },
    { "BUTTON", "Help", kButton, 138, 180, 50, 14, IDHELP, 0 },
};

const DLGITEM_DATA kIpItems[] = {
    { "BUTTON", "New Service", kGroup, 8, 6, 178, 64, IDC_IP_GROUP, 0 },
    { "STATIC", "Host name:", SS_RIGHT | kChild, 14, 22, 50, 10, -1, 0 },
    { "EDIT", "", ES_LEFT | ES_AUTOHSCROLL | WS_BORDER | kChild | WS_TABSTOP, 68, 20, 110, 12, IDC_IP_HOST, 0 },
    { "STATIC", "Port number:", SS_RIGHT | kChild, 14, 44, 50, 10, -1, 0 },
    { "EDIT", "", ES_LEFT | ES_AUTOHSCROLL | WS_BORDER | kChild | WS_TABSTOP, 68, 42, 40, 12, IDC_IP_PORT, 0 },
    { "BUTTON", "OK", kDefButton, 16, 92, 50, 14, IDOK, 0 },
    { "BUTTON", "Cancel", kButton, 72, 92, 50, 14, IDCANCEL, 0 },
    { "BUTTON", "Help", kButton, 128, 92, 50, 14, IDHELP, 0 },
};

const DLGITEM_DATA kIpxItems[] = {
    { "BUTTON", "Known Services", kGroup, 8, 6, 180, 166, IDC_IPX_GROUP, 0 },
    { "LISTBOX", "", LBS_NOTIFY | LBS_SORT | WS_VSCROLL | WS_BORDER | kChild | WS_TABSTOP, 16, 18, 164, 148,
      IDC_IPX_LIST, 0 },
    { "BUTTON", "Poll", kButton, 198, 14, 50, 14, IDC_IPX_POLL, 0 },
    { "BUTTON", "OK", kDefButton, 198, 118, 50, 14, IDOK, 0 },
    { "BUTTON", "Cancel", kButton, 198, 136, 50, 14, IDCANCEL, 0 },
    { "BUTTON", "Help", kButton, 198, 154, 50, 14, IDHELP, 0 },
};

const DLGITEM_DATA kSplashItems[] = {
    { "STATIC", "Tarvizone Redirector Setup Utility for Windows 95 Version 1.0/1", SS_CENTER | kChild, 20, 36, 154,
      40, -1, 0 },
    { "BUTTON", "OK", kDefButton, 72, 112, 50, 14, IDC_SPLASH_OK, 0 },
};

const DLGTEMPLATE_DATA kTemplates[] = {
    { IDD_MAIN, nullptr, WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_VISIBLE, 0, 0, 0, 288, 153,
      "Tarvizone Redirector Setup", "MS Sans Serif", 9, kMainItems, sizeof kMainItems / sizeof kMainItems[0] },
    { IDD_SERVICES, nullptr, kModal, 0, 40, 20, 202, 199, "Service Selection", "MS Sans Serif", 8, kServiceItems,
      sizeof kServiceItems / sizeof kServiceItems[0] },
    { IDD_SPLASH, nullptr, WS_POPUP | WS_BORDER | WS_VISIBLE, 0, 47, 5, 194, 143, "", "MS Sans Serif", 8,
      kSplashItems, sizeof kSplashItems / sizeof kSplashItems[0] },
    { IDD_IP_SERVICE, nullptr, kModal, 0, 60, 40, 194, 119, "IP Service", "MS Sans Serif", 8, kIpItems,
      sizeof kIpItems / sizeof kIpItems[0] },
    { IDD_IPX_SERVICE, nullptr, kModal, 0, 30, 10, 256, 179, "IPX Service", "MS Sans Serif", 8, kIpxItems,
      sizeof kIpxItems / sizeof kIpxItems[0] },
};

// The program's icon: a plug on a network line.
const char* const kIconRows[] = {
    "................................", "................................", "..........############..........",
    ".........#++++++++++++#.........", "........#++##########++#........", "........#+#..........#+#........",
    "........#+#.##....##.#+#........", "........#+#.##....##.#+#........", "........#+#..........#+#........",
    "........#++##########++#........", ".........#++++++++++++#.........", "..........############..........",
    "...............##...............", "...............##...............", "...............##...............",
    "...............##...............", "...............##...............", "...............##...............",
    "..######################.######.", "..#++++++++++++++++++++#.#++++#.", "..######################.######.",
    "...............##...............", "...............##...............", "...............##...............",
    "............########............", "............#++++++#............", "............#+####+#............",
    "............#+#..#+#............", "............#+####+#............", "............#++++++#............",
    "............########............", "................................",
};
const ICON_DATA kIcons[] = { { IDI_KMSETUP, 32, 32, kIconRows } };

const HELPTOPIC_DATA kHelpTopics[] = {
    { HELP_KEY, "Contents", 0, "index.html" },
    { HELP_KEY, "Service Selection Dialog", 0, "services.html#service-selection" },
};

} // namespace

void RegisterKmSetupResources()
{
    RegisterDialogResources(kTemplates, static_cast<int>(sizeof kTemplates / sizeof kTemplates[0]));
    RegisterIconResources(kIcons, 1);
    RegisterHelpFile(HELP_FILE, "index.html", kHelpTopics, static_cast<int>(sizeof kHelpTopics / sizeof kHelpTopics[0]));
}
