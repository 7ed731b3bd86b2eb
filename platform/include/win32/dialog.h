// Dialogs, controls and message boxes of the platform layer.
//
// Dialog templates are data in each program's resource file, in dialog units
// (x, y, cx, cy), registered with RegisterDialogResources at start-up; the
// dialog functions find them by resource id (MAKEINTRESOURCE) or by name.
#pragma once

#include "win32/types.h"
#include "win32/user.h"

typedef INT_PTR(CALLBACK* DLGPROC)(HWND, UINT, WPARAM, LPARAM);

// MAKEINTRESOURCE and IS_INTRESOURCE come with win32/user.h.

// One control of a dialog template.
typedef struct DLGITEM_DATA {
    const char* className; // "BUTTON", "STATIC", "EDIT", "LISTBOX"
    const char* text;
    DWORD style;           // WS_* | control styles
    short x, y, cx, cy;    // dialog units
    int id;                // control id; -1 for a static without one
    DWORD exStyle;
} DLGITEM_DATA;

// One dialog template (a resource of the program).
typedef struct DLGTEMPLATE_DATA {
    WORD resourceId;       // found by MAKEINTRESOURCE(resourceId) when non-zero
    const char* resourceName; // or by this name (case-insensitive) when non-null
    DWORD style;           // WS_* | DS_*
    DWORD exStyle;
    short x, y, cx, cy;    // dialog units
    const char* caption;
    const char* fontName;  // e.g. "MS Sans Serif"
    WORD pointSize;
    const DLGITEM_DATA* items;
    int itemCount;
} DLGTEMPLATE_DATA;

// Makes a program's dialog templates known to the dialog functions. Called
// once at start-up by the program's resource file.
void RegisterDialogResources(const DLGTEMPLATE_DATA* templates, int count);

// Dialog styles.
#define DS_ABSALIGN 0x01
#define DS_SYSMODAL 0x02
#define DS_LOCALEDIT 0x20
#define DS_SETFONT 0x40
#define DS_MODALFRAME 0x80
#define DS_NOIDLEMSG 0x100
#define DS_SETFOREGROUND 0x200
#define DS_CENTER 0x0800

// Dialog window longs.
#define DWL_MSGRESULT 0
#define DWL_DLGPROC 4
#define DWL_USER 8

HWND CreateDialogParamA(HINSTANCE hInstance, LPCSTR lpTemplateName, HWND hWndParent, DLGPROC lpDialogFunc,
                        LPARAM dwInitParam);
INT_PTR DialogBoxParamA(HINSTANCE hInstance, LPCSTR lpTemplateName, HWND hWndParent, DLGPROC lpDialogFunc,
                        LPARAM dwInitParam);
BOOL EndDialog(HWND hDlg, INT_PTR nResult);
HWND GetDlgItem(HWND hDlg, int nIDDlgItem);
BOOL SetDlgItemTextA(HWND hDlg, int nIDDlgItem, LPCSTR lpString);
UINT GetDlgItemTextA(HWND hDlg, int nIDDlgItem, LPSTR lpString, int cchMax);
LRESULT SendDlgItemMessageA(HWND hDlg, int nIDDlgItem, UINT Msg, WPARAM wParam, LPARAM lParam);
BOOL IsDialogMessageA(HWND hDlg, struct tagMSG* lpMsg);
HWND GetNextDlgTabItem(HWND hDlg, HWND hCtl, BOOL bPrevious);
BOOL CheckRadioButton(HWND hDlg, int nIDFirstButton, int nIDLastButton, int nIDCheckButton);
BOOL CheckDlgButton(HWND hDlg, int nIDButton, UINT uCheck);
UINT IsDlgButtonChecked(HWND hDlg, int nIDButton);

// Help: the programs' help files are HTML pages opened at the topic asked
// for (keyword or context number); see platform/dialog/winhelp.cpp.
#define HELP_CONTEXT 0x0001
#define HELP_QUIT 0x0002
#define HELP_INDEX 0x0003
#define HELP_CONTENTS 0x0003
#define HELP_FINDER 0x000B
#define HELP_KEY 0x0101
#define HELP_PARTIALKEY 0x0105
BOOL WinHelpA(HWND hWndMain, LPCSTR lpszHelp, UINT uCommand, ULONG_PTR dwData);

// One topic of a help file: a keyword (HELP_KEY, compared without regard to
// case) or a context number (HELP_CONTEXT), and the page it opens, relative
// to the help pages' folder ("page.html#anchor").
typedef struct HELPTOPIC_DATA {
    UINT command;     // HELP_KEY or HELP_CONTEXT
    const char* key;  // HELP_KEY: the keyword
    DWORD context;    // HELP_CONTEXT: the number
    const char* page;
} HELPTOPIC_DATA;

// Makes a help file the program names known to WinHelpA: its name without a
// folder ("kolmset32.hlp"), the page of its contents and its topics. Part of
// a program's resources, registered at start-up; registering a file again
// replaces its topics.
void RegisterHelpFile(const char* fileName, const char* contentsPage, const HELPTOPIC_DATA* topics, int count);

#define CreateDialogA(inst, name, parent, proc) CreateDialogParamA(inst, name, parent, proc, 0)
#define DialogBoxA(inst, name, parent, proc) DialogBoxParamA(inst, name, parent, proc, 0)

// The class of dialog windows.
#define WC_DIALOG MAKEINTATOM(0x8002)

// Dialog manager messages and the answers of WM_GETDLGCODE.
#define DM_GETDEFID (WM_USER + 0)
#define DM_SETDEFID (WM_USER + 1)
#define DC_HASDEFID 0x534B
#define DLGC_WANTARROWS 0x0001
#define DLGC_WANTTAB 0x0002
#define DLGC_WANTALLKEYS 0x0004
#define DLGC_WANTMESSAGE 0x0004
#define DLGC_HASSETSEL 0x0008
#define DLGC_DEFPUSHBUTTON 0x0010
#define DLGC_UNDEFPUSHBUTTON 0x0020
#define DLGC_RADIOBUTTON 0x0040
#define DLGC_WANTCHARS 0x0080
#define DLGC_STATIC 0x0100
#define DLGC_BUTTON 0x2000

#ifndef ERROR_CONTROL_ID_NOT_FOUND
#define ERROR_CONTROL_ID_NOT_FOUND 1421L
#endif
#ifndef ERROR_INVALID_MSGBOX_STYLE
#define ERROR_INVALID_MSGBOX_STYLE 1438L
#endif
#ifndef ERROR_WINDOW_NOT_DIALOG
#define ERROR_WINDOW_NOT_DIALOG 1420L
#endif

// Message boxes.
#define MB_OK 0x00000000L
#define MB_OKCANCEL 0x00000001L
#define MB_ABORTRETRYIGNORE 0x00000002L
#define MB_YESNOCANCEL 0x00000003L
#define MB_YESNO 0x00000004L
#define MB_RETRYCANCEL 0x00000005L
#define MB_ICONHAND 0x00000010L
#define MB_ICONQUESTION 0x00000020L
#define MB_ICONEXCLAMATION 0x00000030L
#define MB_ICONASTERISK 0x00000040L
#define MB_ICONERROR MB_ICONHAND
#define MB_ICONSTOP MB_ICONHAND
#define MB_ICONWARNING MB_ICONEXCLAMATION
#define MB_ICONINFORMATION MB_ICONASTERISK
#define MB_DEFBUTTON1 0x00000000L
#define MB_DEFBUTTON2 0x00000100L
#define MB_DEFBUTTON3 0x00000200L
#define MB_APPLMODAL 0x00000000L
#define MB_SYSTEMMODAL 0x00001000L
#define MB_TASKMODAL 0x00002000L
#define MB_SETFOREGROUND 0x00010000L
#define MB_TOPMOST 0x00040000L

#define IDOK 1
#define IDCANCEL 2
#define IDABORT 3
#define IDRETRY 4
#define IDIGNORE 5
#define IDYES 6
#define IDNO 7
#define IDCLOSE 8
#define IDHELP 9

#define MB_TYPEMASK 0x0000000FL
#define MB_ICONMASK 0x000000F0L
#define MB_DEFMASK 0x00000F00L

int MessageBoxA(HWND hWnd, LPCSTR lpText, LPCSTR lpCaption, UINT uType);

// Control class styles.
#define BS_PUSHBUTTON 0x00000000L
#define BS_DEFPUSHBUTTON 0x00000001L
#define BS_CHECKBOX 0x00000002L
#define BS_AUTOCHECKBOX 0x00000003L
#define BS_RADIOBUTTON 0x00000004L
#define BS_GROUPBOX 0x00000007L
#define BS_3STATE 0x00000005L
#define BS_AUTO3STATE 0x00000006L
#define BS_AUTORADIOBUTTON 0x00000009L
#define BS_TYPEMASK 0x0000000FL
#define BS_LEFTTEXT 0x00000020L
#define SS_TYPEMASK 0x0000001FL
#define SS_SIMPLE 0x0000000BL
#define SS_LEFTNOWORDWRAP 0x0000000CL
#define SS_NOTIFY 0x00000100L
#define ES_CENTER 0x0001L
#define ES_RIGHT 0x0002L
#define ES_UPPERCASE 0x0008L
#define ES_LOWERCASE 0x0010L
#define ES_PASSWORD 0x0020L
#define ES_NOHIDESEL 0x0100L
#define ES_OEMCONVERT 0x0400L
#define ES_WANTRETURN 0x1000L
#define ES_NUMBER 0x2000L
#define LBS_NOREDRAW 0x0004L
#define LBS_HASSTRINGS 0x0040L
#define LBS_USETABSTOPS 0x0080L
#define LBS_WANTKEYBOARDINPUT 0x0400L
#define LBS_DISABLENOSCROLL 0x1000L
#define LBS_NOSEL 0x4000L
#define SS_LEFT 0x00000000L
#define SS_CENTER 0x00000001L
#define SS_RIGHT 0x00000002L
#define SS_NOPREFIX 0x00000080L
#define ES_LEFT 0x0000L
#define ES_MULTILINE 0x0004L
#define ES_AUTOVSCROLL 0x0040L
#define ES_AUTOHSCROLL 0x0080L
#define ES_READONLY 0x0800L
#define LBS_NOTIFY 0x0001L
#define LBS_SORT 0x0002L
#define LBS_MULTIPLESEL 0x0008L
#define LBS_NOINTEGRALHEIGHT 0x0100L
#define LBS_EXTENDEDSEL 0x0800L
#define LBS_STANDARD 0x00A00003L

// Notifications carried in the high word of WM_COMMAND's wParam.
#define BN_CLICKED 0
#define BN_DOUBLECLICKED 5
#define STN_CLICKED 0
#define EN_SETFOCUS 0x0100
#define EN_KILLFOCUS 0x0200
#define EN_CHANGE 0x0300
#define EN_UPDATE 0x0400
#define EN_ERRSPACE 0x0500
#define EN_MAXTEXT 0x0501
#define LBN_ERRSPACE (-2)
#define LBN_SELCHANGE 1
#define LBN_DBLCLK 2
#define LBN_SELCANCEL 3
#define LBN_SETFOCUS 4
#define LBN_KILLFOCUS 5

// Button messages.
#define BM_GETCHECK 0x00F0
#define BM_SETCHECK 0x00F1
#define BM_GETSTATE 0x00F2
#define BM_SETSTATE 0x00F3
#define BM_SETSTYLE 0x00F4
#define BM_CLICK 0x00F5
#define BST_UNCHECKED 0
#define BST_CHECKED 1
#define BST_INDETERMINATE 2
#define BST_PUSHED 4
#define BST_FOCUS 8

// Edit messages beyond those of win32/user.h.
#define EM_GETMODIFY 0x00B8
#define EM_SETMODIFY 0x00B9
#define EM_GETLINECOUNT 0x00BA
#define EM_SETREADONLY 0x00CF
#define EM_SETLIMITTEXT EM_LIMITTEXT
#define EM_GETLIMITTEXT 0x00D5

// The list box messages (LB_*) come with win32/user.h.
