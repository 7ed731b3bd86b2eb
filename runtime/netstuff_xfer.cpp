// Moving bytes between the connected socket and a byte ring, in up to two
// contiguous pieces per call, straight from and into the ring storage.
#include "netstuff.h"

#include "iface32_queue.h"
#include "mydebug.h"

int can_i_tx(unsigned socket)
{
    (void)socket;
    return 1;
}

int writeCommString_95(unsigned socket, char* buf, int size, int* status)
{
    int sent = 0;
    if (can_i_tx(socket))
        sent = send(socket, buf, size, 0);
    else
        dprintf("wcs_95: can't send\n");
    if (sent == SOCKET_ERROR) {
        const int err = Check_Error();
        if (err != WSAEWOULDBLOCK)
            dprintf("wcs_95: error %d\n", err);
        if (status)
            *status = err;
        return 0;
    }
    return sent;
}

int readcommstring_proc(unsigned socket, char* buf, int size, int* status)
{
    const int got = recv(socket, buf, size, 0);
    OutputDBString_word("rcs: got %d\n", static_cast<unsigned short>(got));
    if (got == 0 || got == SOCKET_ERROR) {
        int err = Check_Error();
        // NOTE: an orderly close by the peer comes without an error code;
        // it is reported as one, so the pump ends the connection instead of
        // receiving again for ever.
        if (got == 0 && err == 0)
            err = STATUS_PEER_CLOSED;
        if (status)
            *status = err;
        return 0;
    }
    return got;
}

int xferToNet_95(unsigned socket, char* toNetBf, AppyQ* toNetQ, int* status)
{
    QueueGuard& guard = queue_guard(toNetQ);
    std::unique_lock lock(guard.lock);
    const unsigned epoch = guard.epoch;
    const DWORD size = toNetQ->size;
    const DWORD head = toNetQ->head;
    const DWORD tail = toNetQ->tail;
    int c1, c2;
    if (head < tail) {
        c1 = static_cast<int>(tail - head);
        c2 = 0;
    } else {
        c1 = static_cast<int>(size - head);
        c2 = static_cast<int>(tail);
    }
    if (c1 != 0) {
        if (c1 < 0 || static_cast<DWORD>(c1) > size) {
            dprintf("xferToNet: c1 = %d, head = %d, tail = %d\n", c1, head, tail);
            return 0;
        }
        if (head + static_cast<DWORD>(c1) > size) {
            dprintf("xferToNet: len too long!\n");
            return 0;
        }
    }
    // The send may block; a flush or reset meanwhile moves the queue on and
    // what went out belonged to the old contents.
    lock.unlock();
    int total = c1 != 0 ? writeCommString_95(socket, toNetBf + head, c1, status) : 0;
    lock.lock();
    if (guard.epoch != epoch)
        return total;
    toNetQ->head += static_cast<DWORD>(total);
    toNetQ->count -= static_cast<DWORD>(total);
    dprintf("kolm32: wrote %d to net(1), cnt to %d\r\n", total, toNetQ->count);
    if (toNetQ->head == size)
        toNetQ->head = 0;
    if (total == c1 && c2 > 0) {
        lock.unlock();
        const int n = writeCommString_95(socket, toNetBf, c2, status);
        lock.lock();
        total += n;
        if (guard.epoch != epoch)
            return total;
        toNetQ->head += static_cast<DWORD>(n);
        toNetQ->count -= static_cast<DWORD>(n);
        dprintf("kolm32: wrote %d to net(2), cnt to %d\r\n", n, toNetQ->count);
    }
    if (toNetQ->head == size)
        toNetQ->head = 0;
    return total;
}

int xferFromNet_95(unsigned socket, char* fromNetBf, AppyQ* fromNetQ, int* status)
{
    QueueGuard& guard = queue_guard(fromNetQ);
    std::unique_lock lock(guard.lock);
    const unsigned epoch = guard.epoch;
    const DWORD size = fromNetQ->size;
    const DWORD head = fromNetQ->head;
    const DWORD tail = fromNetQ->tail;
    DWORD c1, c2;
    if (tail < head) {
        c1 = head - tail - 1;
        c2 = 0;
    } else if (head == 0) {
        c1 = size - tail - 1;
        c2 = 0;
    } else {
        c1 = size - tail;
        c2 = head - 1;
    }
    // The receive blocks until data comes; the queue must stay free for a
    // flush or reset meanwhile.
    lock.unlock();
    int total = c1 != 0 ? readcommstring_proc(socket, fromNetBf + tail, static_cast<int>(c1), status) : 0;
    lock.lock();
    if (guard.epoch != epoch) {
        // The queue was emptied while the receive waited: what arrived is
        // new input, and it starts the fresh queue (only this thread fills
        // it, so it is still empty).
        if (total > 0 && fromNetQ->count == 0) {
            memmove(fromNetBf, fromNetBf + tail, static_cast<size_t>(total));
            fromNetQ->head = 0;
            fromNetQ->tail = static_cast<DWORD>(total);
            fromNetQ->count = static_cast<DWORD>(total);
        }
        return total;
    }
    fromNetQ->tail += static_cast<DWORD>(total);
    fromNetQ->count += static_cast<DWORD>(total);
    if (fromNetQ->tail == size)
        fromNetQ->tail = 0;
    if (c1 != 0 && static_cast<DWORD>(total) == c1 && c2 > 0) {
        // NOTE: the second piece takes only what has already arrived. A
        // blocking receive here would hold the bytes of the first piece back
        // from the application until the far end sent more, which on an
        // interactive line may be never.
        u_long avail = 0;
        if (ioctlsocket(socket, FIONREAD, &avail) == 0 && avail > 0) {
            const int want = avail < c2 ? static_cast<int>(avail) : static_cast<int>(c2);
            const int n = readcommstring_proc(socket, fromNetBf, want, nullptr);
            total += n;
            fromNetQ->count += static_cast<DWORD>(n);
            fromNetQ->tail = static_cast<DWORD>(n);
        }
    }
    if (fromNetQ->tail == size)
        fromNetQ->tail = 0;
    return total;
}

void heinous_pause(int howlong)
{
    OutputDBString_word("Heinous pause for %dms!\n", static_cast<unsigned short>(howlong));
    const DWORD start = GetTickCount();
    // NOTE: a deliberate busy wait between connection attempts: the thread
    // neither sleeps nor handles messages meanwhile.
    while (GetTickCount() - start < static_cast<DWORD>(howlong)) {
    }
}
