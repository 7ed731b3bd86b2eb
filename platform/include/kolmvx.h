// The port driver's interface: device path, control codes, parameter
// blocks, sub-functions and command bits. Shared by the runtime and the
// drivers that plug into the device seam; every layout here is fixed.
#pragma once

#include "win32/types.h"
#include "win32/ptr32.h"

#define KOLMVX_DEVICE_PATH "\\\\.\\KOLMVX.VXD"
#define KOLMVX_DEVICE_NAME "KOLMVX.VXD"

// DeviceIoControl codes. There is no 0x8103.
#define DIOC_REGISTER 0x8100
#define DIOC_READ 0x8101
#define DIOC_WRITE 0x8102
#define DIOC_SUBF 0x8104

// Sub-functions of DIOC_SUBF.
#define SUBF_DISC_DONE 1
#define SUBF_CONNECTED 2
#define SUBF_NET_CLOSED 3
#define SUBF_APP_EXIT 4
#define SUBF_CONNECT_FAILED 5
#define SUBF_GET_COMMANDS 6

// Driver command codes; bit (1 << code) in the SUBF_GET_COMMANDS word.
#define CMD_READ 0
#define CMD_PREP 1
#define CMD_CONN 2
#define CMD_DISC 3
#define CMD_WRITE 4
#define CMD_FLUSH_TO_NET 5
#define CMD_FLUSH_FROM_NET 6
#define CMD_DTR_LOW 7

// wParam of the WM_COMMAND a driver may send with a command word in lParam
// (port number * 256 + command code).
#define ID_DRIVER_CMD 0x100

// One byte ring shared with the driver (20 bytes). The driver appends to
// toNetQ inside DIOC_READ and takes from fromNetQ inside DIOC_WRITE.
typedef struct AppyQ {
    DWORD size;  // capacity of the ring storage in bytes
    DWORD count; // bytes held
    DWORD head;  // index of the next byte to take out
    DWORD tail;  // index where the next byte goes in
    volatile DWORD locked; // the driver's; the runtime only resets it
} AppyQ;

#pragma pack(push, 1)
// Input block of DIOC_READ, DIOC_WRITE and DIOC_SUBF (10 bytes).
// buf and q are 32-bit pointer tokens (see win32/ptr32.h).
typedef struct vxdParam {
    signed char portNumber;
    unsigned char subfunction; // DIOC_SUBF only
    DWORD buf;                 // ring storage; DIOC_READ / DIOC_WRITE only
    DWORD q;                   // AppyQ*; DIOC_READ / DIOC_WRITE only
} vxdParam;

// Input block of DIOC_REGISTER (21 bytes): the runtime's window and the
// ring-0 handles of its four events. The length passed with it is 4; the
// driver reads the whole block through its address.
typedef struct vxdInitParam {
    signed char portNumber; // not filled in
    DWORD hwnd;
    DWORD AppToVxDR0;
    DWORD CmdEventR0;
    DWORD VxDToNetEventR0;
    DWORD NetToVxDEventR0;
} vxdInitParam;
#pragma pack(pop)

static_assert(sizeof(AppyQ) == 20, "AppyQ is 20 bytes");
static_assert(sizeof(vxdParam) == 10, "vxdParam is 10 packed bytes");
static_assert(sizeof(vxdInitParam) == 21, "vxdInitParam is 21 packed bytes");
