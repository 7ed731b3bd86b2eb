// The runtime's side of the port driver link: events, the published
// registry values, and the synchronous device calls.
#pragma once

#include "win32.h"
#include "kolmvx.h"
#include "shared.h"

// Status word answered to WM_GET_STATUS.
#define STATUS_NO_DRIVER 1
#define STATUS_IDLE 2
#define STATUS_CONNECTED 3 // plus curServ * 256

extern const char* const vfunc[8];

int InitEvents(HWND hwnd);
int CreateCommonEvent(HANDLE* pr3Evt, DWORD* pr0Evt, BOOL bManualReset, BOOL bInitialState);
OPENVXDHANDLE GetAddressOfOpenVxDHandle();
int SetHwndKey(HWND hwnd);
int ClearHwnd();
int InitVxD();
int DeInitVxD();
DWORD VxDSubf(signed char portNumber, signed char subf);
int ReadVxD(signed char portNumber, char* buf, AppyQ* q);
int WriteVxD(signed char portNumber, char* buf, AppyQ* q);
void VxDClose(signed char portNumber, signed char reason);
LONG getStatus();
