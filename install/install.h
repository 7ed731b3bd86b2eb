// install: the installer. Registers the port driver and one new redirected
// COM port in the device registry, writes the setup program's response
// file and the uninstall entry, stops a running kolm32 and starts the
// setup program; interactively, or from an install script named on the
// command line.
#pragma once

#include "win32.h"

// Resources.
#define IDD_METHOD 2
#define IDD_PATH 4
#define IDI_INSTALL 5
#define IDC_AUTOMATIC 10
#define IDC_MANUAL 11
#define IDC_DESTPATH 10
#define IDC_PATHHELP 9

// Help contexts of kolmdoc.hlp.
#define HELP_MANUAL 1000
#define HELP_DONE 1037

// One service for the response file.
typedef struct svInfo {
    char name[100]; // host:port, or an IPX service name (upper case)
    char protocol;  // 0 none, 1 IP, 2 IPX
} svInfo;

typedef struct scriptInfo {
    char path[100];     // destination directory, ending in a backslash once set; empty if never set
    char setupCmd[200]; // the setup program's command line, built by doISS
    svInfo sv1, sv2, sv3, sv4;
} scriptInfo;

// One row of the response file template: type 0 writes `string`, 1 the
// destination path, 2 to 5 the service text of sv1 to sv4.
typedef struct issInfo {
    char type;
    const char* string; // empty: end of the table
} issInfo;

// A COM port found by the port scan.
typedef struct portInfo {
    char name[20];  // "PORTNAME"
    char driver[30]; // "Driver"
    WORD ioStart;   // first I/O port of its allocated range
    WORD ioEnd;     // last I/O port of its allocated range
} portInfo;

// A candidate COM name and I/O base for the new port.
typedef struct resInfo {
    const char* name;
    WORD ioStart;
    WORD flags; // written into bytes 38-39 of "ForcedConfig"
} resInfo;

// The outcome of the port scan.
enum { SCAN_DONE = 0, SCAN_INSTALLED = 1, SCAN_FAILED = 2 };

// Installation state (doit.cpp).
extern scriptInfo scriptData;
extern char doAuto;
extern char gotError;
extern HINSTANCE ghInst;
extern HWND hWndMain;
extern HWND hMainDlg;

// Fixed values and tables (tables.cpp).
extern const char gszAppName[];
extern const char srFile[];
extern const char logFile[];
extern const char setupCmd[];
extern const char uninstKeyName[];
extern const char productName[];
extern const char uninstProgName[];
extern const char helpFile[];
extern const char defaultAppPath[];
extern const char successText[];
extern const issInfo issLines[];
extern const char enumPath[];
extern const char driverPath[];
extern const char abovePath[];
extern const char portPath[];
#define maxResources 7
#define maxPorts 20
extern const resInfo Resources[maxResources];
extern BYTE forcedConfig[44];
extern const BYTE logConfig0[80];
extern const BYTE logConfig1[44];

// The port scan's findings (ports.cpp).
extern portInfo Ports[maxPorts];
extern int curPort;

// install.cpp
LRESULT CALLBACK WndProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);
int startInteractive(HWND hWnd);
INT_PTR CALLBACK InstallDlgProc(HWND hDlg, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK PathDlgProc(HWND hDlg, UINT message, WPARAM wParam, LPARAM lParam);
void RegisterInstallResources();

// doit.cpp
int doit(HWND hWnd, int* abort);
int doISS(HWND hWnd);
int parseScript(HWND hWnd, const char* scriptPath);
void checkPath(char* path);
void serviceText(const svInfo* sv, char* out, size_t size);
int stopKolm32();

// ports.cpp
int scanPorts(HWND hWnd, HKEY* hEnum);
const resInfo* findFree();
LONG nextSubkey(HKEY parent, char* name, size_t size);
int doDriver(HWND hWnd, char* portSlot);
int doPort(HWND hWnd, const char* portSlot, const resInfo* res);

// msg.cpp
void ErrMsg(HWND hWnd, const char* format, ...);
void InfoMsg(HWND hWnd, const char* format, ...);
int QueryMsg(HWND hWnd, const char* format, ...);

// textfile.cpp: files in the C runtime's text mode (see there).
typedef struct TEXTFILE TEXTFILE;
TEXTFILE* textOpen(const char* path, const char* mode);
char* textGets(char* buf, int size, TEXTFILE* file);
int textPuts(const char* text, TEXTFILE* file);
int textClose(TEXTFILE* file);
