// kolmset32, the setup utility: its globals, resource ids and routines.
#pragma once

#include "win32.h"

#include "data.h"

// Dialog resources and the program's icon.
#define IDD_MAIN 2
#define IDD_SERVICES 3
#define IDD_SPLASH 4
#define IDD_IP_SERVICE 5
#define IDD_IPX_SERVICE 6
#define IDI_KMSETUP 7

// Main dialog (2).
#define IDC_MAIN_GROUP 105
#define IDC_MAIN_LIST 108
#define IDC_MAIN_CHANGE 112
#define IDC_MAIN_REDIRECT 113
#define IDC_MAIN_DONE 116
#define IDC_MAIN_STATUS 117
#define IDC_MAIN_SAVE 119

// Service Selection dialog (3).
#define IDC_SEL_LIST 102
#define IDC_SEL_FIRST 103
#define IDC_SEL_LAST 104
#define IDC_SEL_REMOVE 105
#define IDC_SEL_ADD_IP 106
#define IDC_SEL_EXPLAIN 108
#define IDC_SEL_ADD_IPX 109
#define IDC_SEL_PORT 113
#define IDC_SEL_GROUP 114

// IP Service dialog (5).
#define IDC_IP_HOST 106
#define IDC_IP_GROUP 109
#define IDC_IP_PORT 115

// IPX Service dialog (6).
#define IDC_IPX_GROUP 101
#define IDC_IPX_LIST 102
#define IDC_IPX_POLL 103

// Splash dialog (4).
#define IDC_SPLASH_OK 101
#define SPLASH_TIMER 1
#define SPLASH_MS 5000

// Posted by the main dialog to itself once it is up: show the splash.
#define WM_SHOW_SPLASH (WM_USER + 100)

#define HELP_FILE "kolmset32.hlp"

// Every buffer that holds an entry of the Selected Services list: the
// five-character prefix and a service name of at most 47 characters.
#define LIST_ENTRY_LEN (LIST_PREFIX_LEN + SERVICE_NAME_LEN)
// Edits are read with at most 79 characters.
#define EDIT_TEXT_LEN 80
#define STATUS_TEXT_LEN 100

// The remembered address of one IPX service.
typedef struct serviInfo {
    signed char valid;          // 1 when the record holds a service
    char name[SERVICE_NAME_LEN];
    struct sockaddr_ipx addr;
} serviInfo;

extern char gszAppName[];
extern HINSTANCE ghInst;
extern HWND hWndMain;
extern DLGPROC lpModelessProc;
extern HWND hMainDlg;
extern HWND subDlg;
extern HWND helperAppHwnd;
extern int dialog_changes_made;
extern int any_changes_made;
extern RECT wrect;
extern const char* const redstat[4];

extern serviInfo savePort[MAX_SERVICES];
extern HGLOBAL hservice_store;
extern int size_service_store;

// kolmset32.cpp: start, main window, main dialog.
int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE hPrevInstance, LPSTR lpszCmdLine, int nCmdShow);
void InitKmSetup(HINSTANCE hInstance, LPSTR lpszCmdLine, int nCmdShow);
LRESULT CALLBACK KmSetupWndProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK MainDlgBoxProc(HWND hDlg, UINT message, WPARAM wParam, LPARAM lParam);

// makewin.cpp: the main dialog's list and status from the data.
void sync_window_to_data();
void sync_tsr_status(HWND hApp);
// The status text for a status word of the runtime; `out` holds
// STATUS_TEXT_LEN bytes.
void status_text(DWORD status, char* out);

// subdlg.cpp: the Service Selection dialog and its dialogs.
INT_PTR CALLBACK SubDialogProc(HWND hDlg, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK IPDialogProc(HWND hDlg, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK IPXDialogProc(HWND hDlg, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK SplashDialogProc(HWND hDlg, UINT message, WPARAM wParam, LPARAM lParam);
int isListFull(HWND hDlg);
int Add_New_Service(HWND hDlg);
int addIPXService(HWND hDlg, int listbox);

// service.cpp: list forms, the cache of polled names, remembered addresses.
void desc_to_string(char* line, const service_desc* desc);
void string_to_desc(const char* s, service_desc* desc);
void save_service_list(HWND lb);
void restore_service_list(HWND hDlg, int listbox);
void saveServiInfo(char gather);
void restoreServiInfo();
// Makes the service name "host:number" from what was typed; 0 when it
// fits SERVICE_NAME_LEN, otherwise 1 and `name` is left empty.
int make_ip_service_name(const char* host, unsigned number, char* name);

// kolmset32_res.cpp: dialog templates, icon and help topics.
void RegisterKmSetupResources();
