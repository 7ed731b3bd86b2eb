// The driver link: the four event pairs, the published registry values, and
// the synchronous device calls.
#include "iface32.h"

#include "data.h"
#include "datawin.h"
#include "iface32_cmd.h"
#include "inotice.h"
#include "mydebug.h"
#include "netstuff.h"

const char* const vfunc[8] = {
    "Read", "Prep", "Conn", "Disc", "Write", "FlushToNet", "FlushFromNet", "DTRLow",
};

namespace {

// One synchronous device call; the output is always one 4-byte word.
BOOL device_call(DWORD code, void* in, DWORD inLen, DWORD* outWord, DWORD* returned)
{
    return DeviceIoControl(device(), code, in, inLen, outWord, sizeof(DWORD), returned, nullptr);
}

} // namespace

OPENVXDHANDLE GetAddressOfOpenVxDHandle()
{
    char path[MAX_PATH];
    UINT n = GetSystemDirectoryA(path, sizeof path);
    if (n == 0 || n + sizeof("\\kernel32.dll") > sizeof path)
        return nullptr;
    strcat(path, "\\kernel32.dll");
    HMODULE kernel = LoadLibraryA(path);
    if (!kernel)
        return nullptr;
    // The library stays loaded for the life of the process.
    // NOTE: through void (*)(), the one function type a cast may pass
    // without a warning.
    return reinterpret_cast<OPENVXDHANDLE>(reinterpret_cast<void (*)()>(GetProcAddress(kernel, "OpenVxDHandle")));
}

int CreateCommonEvent(HANDLE* pr3Evt, DWORD* pr0Evt, BOOL bManualReset, BOOL bInitialState)
{
    *pr3Evt = CreateEventA(nullptr, bManualReset, bInitialState, nullptr);
    if (!pOpenVxDHandle)
        pOpenVxDHandle = GetAddressOfOpenVxDHandle();
    if (pOpenVxDHandle && *pr3Evt)
        *pr0Evt = pOpenVxDHandle(*pr3Evt);
    else
        *pr0Evt = 0;
    // NOTE: a Win32 event that was created is kept even when its ring-0
    // handle could not be had; the program ends at once in that case.
    return (*pr3Evt && *pr0Evt) ? 1 : 0;
}

int InitEvents(HWND hwnd)
{
    myhWnd = hwnd;
    if (!CreateCommonEvent(&CmdEventR3, &CmdEventR0, FALSE, FALSE)
        || !CreateCommonEvent(&AppToVxDR3, &AppToVxDR0, FALSE, FALSE)
        || !CreateCommonEvent(&VxDToNetEventR3, &VxDToNetEventR0, FALSE, FALSE)
        || !CreateCommonEvent(&NetToVxDEventR3, &NetToVxDEventR0, FALSE, FALSE)) {
        MessageBoxA(myhWnd, "Couldn't create event", "Kolm32", MB_OK);
        return -1;
    }
    DWORD tid;
    HANDLE thread = CreateThread(nullptr, 4096, ServiceThread, CmdEventR3, 0, &tid);
    if (!thread) {
        MessageBoxA(myhWnd, "Couldn't create ServiceThread", "Kolm32", MB_OK);
        return -1;
    }
    return SetHwndKey(hwnd);
}

int SetHwndKey(HWND hwnd)
{
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyPath, 0, KEY_WRITE, &key) != ERROR_SUCCESS)
        return -1;
    DWORD value = HandleToDword(hwnd);
    if (RegSetValueExA(key, "HWND", 0, REG_DWORD, reinterpret_cast<BYTE*>(&value), sizeof value) == ERROR_SUCCESS
        && RegSetValueExA(key, "Event", 0, REG_DWORD, reinterpret_cast<BYTE*>(&CmdEventR0), sizeof CmdEventR0)
               == ERROR_SUCCESS) {
        RegSetValueExA(key, "A2V", 0, REG_DWORD, reinterpret_cast<BYTE*>(&AppToVxDR0), sizeof AppToVxDR0);
    }
    return RegCloseKey(key) == ERROR_SUCCESS ? 0 : -1;
}

int ClearHwnd()
{
    return SetHwndKey(nullptr);
}

int InitVxD()
{
    set_device(CreateFileA(KOLMVX_DEVICE_PATH, 0, 0, nullptr, CREATE_NEW, FILE_FLAG_DELETE_ON_CLOSE, nullptr));
    if (device() == INVALID_HANDLE_VALUE) {
        char msg[64];
        wsprintfA(msg, "CreateFile failed with %08lx", GetLastError());
        MessageBoxA(myhWnd, msg, "Error", MB_OK);
        return 1;
    }
    dprintf("kolm32: found VxD\n");
    vxdInitParam init;
    init.hwnd = HandleToDword(myhWnd);
    init.AppToVxDR0 = AppToVxDR0;
    init.CmdEventR0 = CmdEventR0;
    init.VxDToNetEventR0 = VxDToNetEventR0;
    init.NetToVxDEventR0 = NetToVxDEventR0;
    DWORD out = 0, returned = 0;
    if (!device_call(DIOC_REGISTER, &init, 4, &out, &returned)) {
        MessageBoxA(myhWnd, "Failed to register APC", "Kolm32", MB_OK);
        return 2;
    }
    dprintf("kolm32: registered with VxD\n");
    return 0;
}

int DeInitVxD()
{
    VxDSubf(0, SUBF_APP_EXIT);
    CloseHandle(device());
    set_device(0);
    SetHwndKey(nullptr);
    return 0;
}

DWORD VxDSubf(signed char portNumber, signed char subf)
{
    // NOTE: a failed call, or one never made, yields 0: the service thread
    // treats this word as command bits and must not act on garbage.
    DWORD out = 0;
    if (portNumber < 0)
        return 0;
    vxdParam p;
    p.portNumber = portNumber;
    p.subfunction = static_cast<unsigned char>(subf);
    DWORD returned = 0;
    if (!device_call(DIOC_SUBF, &p, sizeof p, &out, &returned)) {
        dprintf("kolm32: VxDSubf failed with %x\n", GetLastError());
        return 0;
    }
    return out;
}

namespace {

// One read or write call on a ring: the driver moves the bytes inside it and
// reports how many as the returned-byte count; 0 when the call failed.
int ring_call(DWORD code, signed char portNumber, char* buf, AppyQ* q, const char* failure)
{
    vxdParam p;
    p.portNumber = portNumber;
    p.buf = kolm_ptr32_from(buf);
    p.q = kolm_ptr32_from(q);
    DWORD out = 0, returned = 0;
    if (!device_call(code, &p, sizeof p, &out, &returned)) {
        dprintf(failure);
        return 0;
    }
    return static_cast<int>(returned);
}

} // namespace

int ReadVxD(signed char portNumber, char* buf, AppyQ* q)
{
    return ring_call(DIOC_READ, portNumber, buf, q, "kolm32: ReadVxD failed\n");
}

int WriteVxD(signed char portNumber, char* buf, AppyQ* q)
{
    return ring_call(DIOC_WRITE, portNumber, buf, q, "kolm32: WriteVxD failed\n");
}

void VxDClose(signed char portNumber, signed char reason)
{
    // NOTE: both pump threads may get here at once; the exchange makes the
    // test and the set one step, so the close is reported exactly once.
    if (!close_port_state())
        return;
    if (portNumber >= 0) {
        dprintf("kolm32: telling VxD we're closed\n");
        VxDSubf(portNumber, SUBF_NET_CLOSED);
    }
    char notice[NOTICE_TEXT_LEN];
    const char* fmt = reason == 0 ? "%s closed the connection on %s"
                                  : "Got a socket error on connection to %s.  Closing %s.";
    wsprintfA(notice, fmt, getCurServi(), portName);
    SendNotice(WM_NOTICE_ALERT, 0, notice);
}

LONG getStatus()
{
    const HANDLE h = device();
    if (h == 0 || h == INVALID_HANDLE_VALUE)
        return STATUS_NO_DRIVER;
    if (sock_state() != 2)
        return STATUS_IDLE;
    return cur_serv() * 256 + STATUS_CONNECTED;
}
