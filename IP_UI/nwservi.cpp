// SAP discovery: one datagram socket per call, a general query for the
// redirector's server type, and the answers read as 64-byte entries.
#include "nwservi.h"

#include "mydebug.h"

namespace {

int wsockInitted = 0;
int lasterror = 0;

char rcvbuf[SAP_RCVBUF_LEN];
char tmpname[SAP_NAME_LEN + 1];

const unsigned char kQuery[4] = {0x00, 0x01, 0x05, 0x2C};
const int kAttempts = 3;
const DWORD kAttemptMs = 3000;
const DWORD kSilenceMs = 1000;
const int kMinAnswer = 2 + SAP_ENTRY_SIZE;

// NOTE: each attempt reads answers for at most its own 3 seconds, counted
// from its query. Servers also advertise themselves unasked at socket
// 0x0452, so on a busy segment something arrives within every second, and
// reading until a second of silence would never end. Outside an attempt
// (attemptBounded 0) reading ends only at a second of silence.
int attemptBounded = 0;
DWORD attemptEnd = 0; // GetTickCount at which the attempt's time is up

// How long a wait may last: `cap`, or less when the attempt's time ends
// sooner; 0 when it has ended.
DWORD wait_allowed(DWORD cap)
{
    if (!attemptBounded)
        return cap;
    const LONG left = static_cast<LONG>(attemptEnd - GetTickCount());
    if (left <= 0)
        return 0;
    return static_cast<DWORD>(left) < cap ? static_cast<DWORD>(left) : cap;
}

// Like WaitForStuff, in milliseconds: 0 when something can be read.
int wait_readable(unsigned sock, DWORD ms)
{
    fd_set rd;
    FD_ZERO(&rd);
    FD_SET(sock, &rd);
    timeval tv;
    tv.tv_sec = static_cast<long>(ms / 1000);
    tv.tv_usec = static_cast<long>(ms % 1000) * 1000;
    if (select(0, &rd, nullptr, nullptr, &tv) != 0 && FD_ISSET(sock, &rd))
        return 0;
    return 1;
}

bool netnum_known(const sockaddr_ipx* a)
{
    return a->sa_netnum[0] || a->sa_netnum[1] || a->sa_netnum[2] || a->sa_netnum[3];
}

// Adds a server name to the list box unless it is listed already.
// NOTE: the match is exact: a prefix search would never list PORTSRV once
// PORTSRV2 is there.
void list_server(HWND hDlg, int listbox, const char* server)
{
    if (SendDlgItemMessageA(hDlg, listbox, LB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                            reinterpret_cast<LPARAM>(server))
        == LB_ERR)
        SendDlgItemMessageA(hDlg, listbox, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(server));
}

// Handles the entries of one answer datagram of `len` bytes. Returns 1 when
// the looked-up name matched.
int parse_answer(int len, HWND hDlg, int listbox, char* name, sockaddr_ipx* addr, int* found)
{
    for (int off = 2; len - off >= SAP_ENTRY_SIZE; off += SAP_ENTRY_SIZE) {
        sapEntry entry;
        memcpy(&entry, rcvbuf + off, sizeof entry);
        memcpy(tmpname, entry.name, SAP_NAME_LEN);
        tmpname[SAP_NAME_LEN] = '\0';
        if (strchr(tmpname, '@'))
            continue;
        clipName(tmpname);
        if (name) {
            if (strcmp(tmpname, name) == 0) {
                dprintf("kolm32: got a match\n");
                memcpy(addr->sa_netnum, entry.network, sizeof addr->sa_netnum);
                memcpy(addr->sa_nodenum, entry.node, sizeof addr->sa_nodenum);
                addr->sa_socket = entry.socket;
                *found = 1;
                return 1;
            }
        } else if (ntohs(entry.type) == SAP_SERVER_TYPE) {
            list_server(hDlg, listbox, tmpname);
        }
    }
    return 0;
}

} // namespace

static int Check_Error()
{
    const int err = WSAGetLastError();
    if (err != lasterror) {
        lasterror = err;
        if (err != 0) {
            char msg[30];
            wsprintfA(msg, "WS error: %d\n", err);
            OutputDebugStringA(msg);
            WSASetLastError(0);
        }
    }
    return err;
}

void clipName(char* name)
{
    for (; *name; ++name) {
        const unsigned char c = static_cast<unsigned char>(*name);
        // Only ASCII letters and digits count: a byte of 0x80 or above ends
        // the name like any other separator.
        if (!(c < 0x80 && (isalnum(c) || c == '_'))) {
            *name = '\0';
            return;
        }
    }
}

int WaitForStuff(unsigned sock, int seconds)
{
    return wait_readable(sock, seconds > 0 ? static_cast<DWORD>(seconds) * 1000 : 0);
}

long HowMuchRx(unsigned socket)
{
    u_long n = 0;
    if (ioctlsocket(socket, FIONREAD, &n) != 0) {
        Check_Error();
        return 0;
    }
    return static_cast<long>(n);
}

int setBcast(struct sockaddr_ipx* addr, unsigned sock)
{
    memset(addr->sa_netnum, 0, sizeof addr->sa_netnum);
    memset(addr->sa_nodenum, 0xFF, sizeof addr->sa_nodenum);
    int on = 1;
    return setsockopt(sock, SOL_SOCKET, SO_BROADCAST, reinterpret_cast<const char*>(&on), sizeof on);
}

int nwParseData(unsigned sock, HWND hDlg, int listbox, char* name, struct sockaddr_ipx* addr, int* found)
{
    for (;;) {
        if (HowMuchRx(sock) < kMinAnswer) {
            const DWORD wait = wait_allowed(kSilenceMs);
            if (wait == 0)
                return 0;
            wait_readable(sock, wait);
            if (HowMuchRx(sock) < kMinAnswer)
                return 0;
        }
        const int len = recv(sock, rcvbuf, sizeof rcvbuf, 0);
        if (len == SOCKET_ERROR) {
            if (Check_Error() != WSAEWOULDBLOCK)
                return 1;
            const DWORD wait = wait_allowed(kSilenceMs);
            if (wait == 0 || wait_readable(sock, wait) != 0)
                return 1;
            continue;
        }
        if (parse_answer(len, hDlg, listbox, name, addr, found) || wait_allowed(kSilenceMs) == 0)
            return 0;
    }
}

int gatherServices(HWND hDlg, int listbox, char* name, struct sockaddr_ipx* addr, int* found)
{
    if (found)
        *found = 0;
    const SOCKET sock = socket(AF_IPX, SOCK_DGRAM, NSPROTO_IPX);
    if (sock == INVALID_SOCKET) {
        Check_Error();
        return 1;
    }
    const bool lookup = name != nullptr;
    int ptype = SAP_PACKET_TYPE;
    sockaddr_ipx local;
    memset(&local, 0, sizeof local);
    local.sa_family = AF_IPX;
    local.sa_socket = htons(SAP_SOCKET);
    sockaddr_ipx dest;
    memset(&dest, 0, sizeof dest);
    dest.sa_family = AF_IPX;
    dest.sa_socket = htons(SAP_SOCKET);

    bool ready = setsockopt(sock, NSPROTO_IPX, IPX_PTYPE, reinterpret_cast<const char*>(&ptype), sizeof ptype) == 0
        && bind(sock, reinterpret_cast<const sockaddr*>(&local), sizeof local) == 0;
    if (ready) {
        if (lookup && netnum_known(addr)) {
            dprintf("gather: find %s\r\n", name);
            memcpy(dest.sa_netnum, addr->sa_netnum, sizeof dest.sa_netnum);
            memcpy(dest.sa_nodenum, addr->sa_nodenum, sizeof dest.sa_nodenum);
        } else {
            dprintf("gather: Bcast\r\n");
            ready = setBcast(&dest, sock) == 0;
        }
    }
    if (ready) {
        u_long nonblocking = 1;
        ioctlsocket(sock, FIONBIO, &nonblocking);
        bool send_failed = false;
        for (int attempt = 0; attempt < kAttempts; ++attempt) {
            if (sendto(sock, reinterpret_cast<const char*>(kQuery), sizeof kQuery, 0,
                       reinterpret_cast<const sockaddr*>(&dest), sizeof dest)
                    == SOCKET_ERROR
                && WSAGetLastError() != WSAENETDOWN) {
                send_failed = true;
                break;
            }
            attemptBounded = 1;
            attemptEnd = GetTickCount() + kAttemptMs;
            if (wait_readable(sock, kAttemptMs) != 0)
                continue;
            nwParseData(sock, hDlg, listbox, name, addr, found);
            if (lookup) {
                if (*found == 1)
                    break;
                if (attempt == 1)
                    setBcast(&dest, sock);
            }
        }
        attemptBounded = 0;
        if (lookup && addr && !send_failed && *found == 0) {
            dprintf("gather: %s not found - nuking\r\n", name);
            memset(addr->sa_netnum, 0, sizeof addr->sa_netnum);
        }
    }
    const int err = Check_Error();
    closesocket(sock);
    return err;
}

int InitWsock2(HWND hwnd)
{
    if (wsockInitted == 0) {
        WSADATA data;
        const int err = WSAStartup(MAKEWORD(1, 1), &data);
        if (err != 0) {
            Check_Error();
            MessageBoxA(hwnd, "Could not Init Winsock", "Redirector Error", MB_ICONEXCLAMATION);
            return err;
        }
        OutputDebugStringA("Initted wsock\n");
        wsockInitted = 1;
    }
    return 0;
}

int DeInitWsock2(HWND hwnd)
{
    if (wsockInitted == 1) {
        if (WSACleanup() != 0) {
            const int err = Check_Error();
            MessageBoxA(hwnd, "Could not DeInit Winsock", "Redirector Error", MB_ICONEXCLAMATION);
            return err;
        }
        OutputDebugStringA("DeInitted wsock\n");
    }
    return 0;
}
