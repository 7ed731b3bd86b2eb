// The two pump threads of a connection: application output from the driver
// to the network, and network input to the driver.
#include "iface32_pump.h"

#include "data.h"
#include "iface32.h"
#include "iface32_queue.h"
#include "mydebug.h"
#include "netstuff.h"
#include "pump_link.h"
#include "shared.h"

namespace {

// Bytes held by a queue, read under its lock.
DWORD queued(AppyQ* q)
{
    std::lock_guard lock(queue_guard(q).lock);
    return q->count;
}

// Blocks until the socket can take more bytes.
void wait_writable(SOCKET s)
{
    fd_set wr;
    FD_ZERO(&wr);
    FD_SET(s, &wr);
    if (select(1, nullptr, &wr, nullptr, nullptr) != 0 && FD_ISSET(s, &wr))
        dprintf("kolm32: select worked\r\n");
    else
        dprintf("kolm32: select failed\r\n");
}

// A failed transfer ends the connection towards the driver and the user,
// unless the runtime is itself taking the connection down: then the failure
// is the runtime's own close, not one from the network side. A close met
// while the connection is still being set up is reported once the driver
// knows it is up.
void report_close(PumpLink& link)
{
    if (connection_is(link.id) && !link.hold_close())
        VxDClose(0, 0);
}

// Hands fromNetQ to the driver until it is empty. Returns false when the
// connection went offline while the driver could take nothing.
// NOTE: what the driver could not take yet is offered again as soon as it
// signals, before the next receive: otherwise the tail of a transfer would
// wait in the ring until the far end sent more.
bool deliver_queued(unsigned mine)
{
    while (queued(&fromNetQ) != 0) {
        DWORD left;
        {
            std::lock_guard lock(queue_guard(&fromNetQ).lock);
            WriteVxD(0, fromNetBf, &fromNetQ);
            left = fromNetQ.count;
        }
        dprintf("NetToVxD after write: cnt = %d\n", left);
        if (left == 0)
            break;
        WaitForSingleObject(NetToVxDEventR3, INFINITE);
        dprintf("kolm32: writeEvent\r\n");
        if (!connection_is(mine)) {
            // The wake-up may have been meant for a newer connection's pump.
            if (online())
                SetEvent(NetToVxDEventR3);
            dprintf("kolm32: (N2VThread) redir offline\r\n");
            return false;
        }
    }
    return true;
}

} // namespace

void VxDToNet(signed char portNumber, const PumpLink& link, int* status)
{
    if (portNumber < 0 || port_state() != PORT_CONNECTED)
        return;
    int nread, nwrite;
    do {
        dprintf("kolm32: V2N loop\r\n");
        nread = 0;
        {
            // The driver fills the ring inside the call, under the queue's
            // lock like every other change to it.
            std::lock_guard lock(queue_guard(&toNetQ).lock);
            if (toNetQ.count < toNetQ.size - 1) {
                dprintf("kolm32: read from VxD\r\n");
                nread = ReadVxD(portNumber, toNetBf, &toNetQ);
            } else {
                dprintf("kolm32: toNetQ full\r\n");
            }
        }
        for (;;) {
            nwrite = 0;
            // Checked before every socket call: once the connection is
            // being taken down its socket may be closed at any moment.
            if (queued(&toNetQ) == 0 || !connection_is(link.id))
                break;
            dprintf("kolm32: write to net\r\n");
            nwrite = xferToNet_95(link.sock, toNetBf, &toNetQ, status);
            if (*status != WSAEWOULDBLOCK || !connection_is(link.id))
                break;
            dprintf("kolm32: got bogus WouldBlock on write\r\n");
            wait_writable(link.sock);
            *status = 0;
        }
    } while ((nread != 0 || nwrite != 0) && connection_is(link.id));
    dprintf("kolm32: out of loop\r\n");
}

DWORD WINAPI VxDToNetThread(LPVOID dummy)
{
    const std::shared_ptr<PumpLink> link = take_link(dummy);
    bool failed = false;
    for (;;) {
        WaitForSingleObject(VxDToNetEventR3, INFINITE);
        dprintf("kolm32: readEvent\r\n");
        if (!connection_is(link->id)) {
            // Pass on a wake-up that was meant for a newer connection's pump.
            if (online())
                SetEvent(VxDToNetEventR3);
            dprintf("kolm32: (V2NThread) redir offline\r\n");
            break;
        }
        int status = 0;
        VxDToNet(0, *link, &status);
        if (status != 0 && status != WSAEWOULDBLOCK) {
            dprintf("kolm32: socket write error %d - closing\r\n", status);
            failed = true;
            break;
        }
        if (!connection_is(link->id)) {
            dprintf("kolm32: (V2NThread) redir offline\r\n");
            break;
        }
    }
    link->leave_socket();
    if (failed)
        report_close(*link);
    dprintf("kolm32: VxDToNetThread exiting\r\n");
    return 0;
}

DWORD WINAPI NetToVxDThread(LPVOID dummy)
{
    const std::shared_ptr<PumpLink> link = take_link(dummy);
    const unsigned mine = link->id;
    bool failed = false;
    while (connection_is(mine)) {
        int status = 0;
        xferFromNet_95(link->sock, fromNetBf, &fromNetQ, &status);
        if (status != 0) {
            dprintf("kolm32: socket read error %d - closing\r\n", status);
            failed = true;
            break;
        }
        if (!connection_is(mine)) {
            dprintf("kolm32: (N2VThread) redir offline\r\n");
            break;
        }
        if (!deliver_queued(mine))
            break;
    }
    link->leave_socket();
    if (failed)
        report_close(*link);
    dprintf("kolm32: NetToVxdThread exiting\r\n");
    return 0;
}
