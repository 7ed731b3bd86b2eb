// The installer's resource file: the Installation Method and Destination
// Path dialogs, its icon, and the topics of its help file.
#include "install.h"

namespace {

const DWORD kDialogStyle = DS_MODALFRAME | WS_POPUP | WS_CAPTION | WS_SYSMENU;

const DLGITEM_DATA kMethodItems[] = {
    {"BUTTON", "Automatic Installation", BS_AUTORADIOBUTTON | WS_CHILD | WS_VISIBLE | WS_GROUP | WS_TABSTOP, 40, 24,
     120, 12, IDC_AUTOMATIC, 0},
    {"BUTTON", "Manual Installation", BS_AUTORADIOBUTTON | WS_CHILD | WS_VISIBLE, 40, 46, 120, 12, IDC_MANUAL, 0},
    {"BUTTON", "OK", BS_DEFPUSHBUTTON | WS_CHILD | WS_VISIBLE | WS_GROUP | WS_TABSTOP, 35, 92, 50, 14, IDOK, 0},
    {"BUTTON", "Cancel", BS_PUSHBUTTON | WS_CHILD | WS_VISIBLE | WS_TABSTOP, 109, 92, 50, 14, IDCANCEL, 0},
};

const DLGITEM_DATA kPathItems[] = {
    {"STATIC", "Enter the destination path:", SS_LEFT | WS_CHILD | WS_VISIBLE, 10, 14, 174, 10, -1, 0},
    {"EDIT", "", ES_LEFT | ES_AUTOHSCROLL | WS_CHILD | WS_VISIBLE | WS_BORDER | WS_TABSTOP, 10, 30, 174, 13,
     IDC_DESTPATH, 0},
    {"BUTTON", "OK", BS_DEFPUSHBUTTON | WS_CHILD | WS_VISIBLE | WS_TABSTOP, 12, 70, 50, 14, IDOK, 0},
    {"BUTTON", "Cancel", BS_PUSHBUTTON | WS_CHILD | WS_VISIBLE | WS_TABSTOP, 72, 70, 50, 14, IDCANCEL, 0},
    {"BUTTON", "Help", BS_PUSHBUTTON | WS_CHILD | WS_VISIBLE | WS_TABSTOP, 132, 70, 50, 14, IDC_PATHHELP, 0},
};

const DLGTEMPLATE_DATA kTemplates[] = {
    {IDD_METHOD, nullptr, kDialogStyle, 0, 40, 30, 194, 119, "Installation Method", "MS Sans Serif", 8, kMethodItems,
     static_cast<int>(sizeof kMethodItems / sizeof kMethodItems[0])},
    {IDD_PATH, nullptr, kDialogStyle, 0, 40, 30, 194, 97, "Destination Path", "MS Sans Serif", 8, kPathItems,
     static_cast<int>(sizeof kPathItems / sizeof kPathItems[0])},
};

const HELPTOPIC_DATA kDocTopics[] = {
    {HELP_CONTEXT, nullptr, HELP_MANUAL, "install.html#manual"},
    {HELP_CONTEXT, nullptr, HELP_DONE, "install.html#done"},
};

// Icon 5, a picture of 16 rows ('#' dark, '+' light, '.' clear): a disk
// with a port plug.
const char* const kIconRows[] = {
    "................", "..############..", "..#++++++++++#..", "..#+########+#..", "..#+#......#+#..",
    "..#+########+#..", "..#++++++++++#..", "..#++++++++++#..", "..#+++####+++#..", "..#+++#..#+++#..",
    "..#+++####+++#..", "..############..", "......#..#......", "......####......", ".......##.......",
    "................",
};
const ICON_DATA kIcons[] = {{IDI_INSTALL, 16, 16, kIconRows}};

} // namespace

void RegisterInstallResources()
{
    RegisterDialogResources(kTemplates, static_cast<int>(sizeof kTemplates / sizeof kTemplates[0]));
    RegisterIconResources(kIcons, 1);
    RegisterHelpFile(helpFile, "index.html", kDocTopics, static_cast<int>(sizeof kDocTopics / sizeof kDocTopics[0]));
}
