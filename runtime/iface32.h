// The runtime's side of the port driver link: events, device calls, the
// byte queues shared with the driver, and the driver command service.
#pragma once

#include <mutex>

#include "win32.h"
#include "kolmvx.h"

#define QUEUE_SIZE 1024

// Status word answered to WM_GET_STATUS.
#define STATUS_NO_DRIVER 1
#define STATUS_IDLE 2
#define STATUS_CONNECTED 3 // plus curServ * 256

typedef DWORD (*OPENVXDHANDLE)(HANDLE);

extern HANDLE hDevice; // 0 never opened or closed again; INVALID_HANDLE_VALUE open failed
extern HWND myhWnd;
extern HANDLE CmdEventR3, AppToVxDR3, VxDToNetEventR3, NetToVxDEventR3;
extern DWORD CmdEventR0, AppToVxDR0, VxDToNetEventR0, NetToVxDEventR0;
extern OPENVXDHANDLE pOpenVxDHandle;
extern const char* const vfunc[8];

// Where the command service stands with the connection: 0 nothing prepared,
// 1 initialised, 2 connected.
extern signed char sockState;

// Byte queues (the ring storage and descriptors shared with the driver).
extern char toNetBuffer[QUEUE_SIZE];
extern char fromNetBuffer[QUEUE_SIZE];
extern char* toNetBf;
extern char* fromNetBf;
extern AppyQ toNetQ;
extern AppyQ fromNetQ;
extern const AppyQ initQ;

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

void initQueues();
void flushQueue(AppyQ* q);

// Serialises a pump's bookkeeping on a queue (and the driver's, inside the
// pump's read or write call) with the resets and flushes the command paths
// make from other threads. A reset starts a new epoch: bytes a pump moved
// while it did not hold the lock belong to the old epoch and go with it.
// The lock is never held across a blocking socket call.
struct QueueGuard {
    std::mutex lock;
    unsigned epoch = 0; // guarded by lock
};
QueueGuard& queue_guard(const AppyQ* q);

DWORD WINAPI ServiceThread(LPVOID CmdEvent);
int doVxDCmd(LONG func);
