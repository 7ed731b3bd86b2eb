// The driver command service: the event path (ServiceThread) and the window
// path (doVxDCmd), leading to the same connect, disconnect, DTR and flush
// steps.
#include "iface32_cmd.h"

#include "data.h"
#include "iface32.h"
#include "iface32_queue.h"
#include "mydebug.h"
#include "netstuff.h"
#include "pump_link.h"
#include "shared.h"

namespace {

// Opens and registers with the driver; shows why when that fails.
// Returns 0 on success, else InitVxD's result.
int open_driver()
{
    const int r = InitVxD();
    if (r == 1)
        MessageBoxA(myhWnd, "No VxD found from kolm32!", "ERROR", MB_OK);
    else if (r == 2)
        MessageBoxA(myhWnd, "Failed to register callback to kolm32", "ERROR", MB_OK);
    else
        dprintf("Successfully initted VxD");
    return r;
}

// Returns the result of the last connection-manager call, -1 when none.
int connect_sequence(signed char port)
{
    int result = -1;
    initQueues();
    // NOTE: the service list is read again at every open, also after a
    // failed connect, so a list corrected meanwhile is used at once.
    // Windows Sockets stays started from the first initialisation
    // (InitWsock does nothing then), so every WSAStartup is still balanced
    // by the WSACleanup of the next disconnect.
    if (sock_state() <= 1) {
        result = inicom_95(port);
        if (result == 0)
            set_sock_state(1);
    }
    if (sock_state() == 1) {
        result = conn_95(port);
        if (result == 0) {
            set_sock_state(2);
            if (AppToVxDR3) {
                dprintf("kolm32: setting event %x\n", HandleToDword(AppToVxDR3));
                SetEvent(AppToVxDR3);
            }
            VxDSubf(port, SUBF_CONNECTED);
            if (auto link = current_link(); link && link->reported_up() && connection_is(link->id))
                VxDClose(0, 0);
            return result;
        }
    }
    VxDSubf(port, SUBF_CONNECT_FAILED);
    return result;
}

int disconnect_sequence(signed char port)
{
    int result = -1;
    if (sock_state() == 2) {
        set_sock_state(0);
        result = disconn_95(port);
    }
    initQueues();
    return result;
}

int dtr_sequence(signed char port)
{
    if (sock_state() != 2)
        return -1;
    set_sock_state(0);
    const int result = disconn_95(port);
    VxDClose(0, 0);
    return result;
}

} // namespace

DWORD WINAPI ServiceThread(LPVOID CmdEvent)
{
    HANDLE cmdEvent = static_cast<HANDLE>(CmdEvent);
    for (;;) {
        dprintf("kolm32: ServiceThread going to wait\n");
        WaitForSingleObject(cmdEvent, INFINITE);
        if (device() == 0 && open_driver() != 0)
            return 0;
        const DWORD bits = VxDSubf(0, SUBF_GET_COMMANDS);
        dprintf("kolm32: thread got signalled for cmd %x\n", bits);
        if (bits & (1u << CMD_PREP))
            connect_sequence(0);
        if (bits & (1u << CMD_DISC)) {
            disconnect_sequence(0);
            VxDSubf(0, SUBF_DISC_DONE);
        }
        if (bits & (1u << CMD_DTR_LOW))
            dtr_sequence(0);
        if (bits & (1u << CMD_FLUSH_TO_NET)) {
            flushQueue(&toNetQ);
            dprintf("kolm32: flush toNetQ\n");
        }
        if (bits & (1u << CMD_FLUSH_FROM_NET)) {
            flushQueue(&fromNetQ);
            dprintf("kolm32: flush fromNetQ\n");
        }
    }
}

int doVxDCmd(LONG func)
{
    const signed char port = static_cast<signed char>((func >> 8) & 0xFF);
    const int code = func & 0xFF;
    dprintf("kolm32: doVxDCmd %s on port %d\n", code < 8 ? vfunc[code] : "?", port);
    switch (code) {
    case CMD_PREP:
        if (device() == 0 && open_driver() != 0)
            return 0;
        return connect_sequence(port);
    case CMD_DISC:
        return disconnect_sequence(port);
    case CMD_FLUSH_TO_NET:
        flushQueue(&toNetQ);
        dprintf("kolm32: flush toNetQ\n");
        return -1;
    case CMD_FLUSH_FROM_NET:
        flushQueue(&fromNetQ);
        dprintf("kolm32: flush fromNetQ\n");
        return -1;
    case CMD_DTR_LOW:
        return dtr_sequence(port);
    }
    return -1;
}
