// The connection manager: loads the service list, starts Windows Sockets,
// connects the port to the first service that answers, and disconnects it
// again with a hard reset.
#include "netstuff.h"

#include "data.h"
#include "datawin.h"
#include "iface32.h"
#include "inotice.h"
#include "mydebug.h"
#include "nwservi.h"
#include "pump_link.h"
#include "shared.h"

namespace {

void notice(int hold, const char* text)
{
    SendNotice(WM_NOTICE, hold, text);
}

// Splits "network:node:socket" (runs of ':' count as one separator) and
// checks that each part has the hex digits its field needs; a shorter or
// broken address fails the attempt rather than reading past the text.
bool parse_explicit_ipx(char* text, sockaddr_ipx* addr)
{
    static const int kDigits[3] = {8, 12, 4};
    char* parts[3] = {nullptr, nullptr, nullptr};
    char* p = text;
    for (int i = 0; i < 3; ++i) {
        while (*p == ':')
            ++p;
        if (*p == '\0')
            return false;
        parts[i] = p;
        while (*p && *p != ':')
            ++p;
        if (*p)
            *p++ = '\0';
        if (static_cast<int>(strlen(parts[i])) < kDigits[i])
            return false;
        for (int d = 0; d < kDigits[i]; ++d) {
            if (BtoH(parts[i][d]) == 0xFF)
                return false;
        }
    }
    AtoH(parts[0], addr->sa_netnum, 4);
    AtoH(parts[1], addr->sa_nodenum, 6);
    AtoH(parts[2], reinterpret_cast<char*>(&addr->sa_socket), 2);
    return true;
}

// Finds an IPX service by SAP name; stores a changed network or node.
// Returns 0 when found, 1 when the attempt fails.
int locate_ipx_service(service_desc* s, char* tmpsvc, sockaddr_ipx* remAddr)
{
    memcpy(remAddr, &s->addr, sizeof *remAddr);
    for (char* c = tmpsvc; *c; ++c)
        *c = static_cast<char>(toupper(static_cast<unsigned char>(*c)));
    int found = 0;
    if (gatherServices(nullptr, 0, tmpsvc, remAddr, &found) != 0 || !found)
        return 1;
    if (memcmp(remAddr->sa_netnum, s->addr.sa_netnum, sizeof remAddr->sa_netnum) != 0
        || memcmp(remAddr->sa_nodenum, s->addr.sa_nodenum, sizeof remAddr->sa_nodenum) != 0) {
        memcpy(&s->addr, remAddr, sizeof s->addr);
        save_data_win();
    }
    return 0;
}

// Resolves "host:number" to TCP port 10000 + number. Returns 0, or 1 when
// the host cannot be found.
int resolve_tcp_service(char* tmpsvc, sockaddr_in* insock)
{
    int portnum = TCP_DEFAULT_NUMBER;
    char* host = tmpsvc;
    char* number = strchr(tmpsvc, ':');
    if (number) {
        *number++ = '\0';
        if (char* end = strchr(number, ':'))
            *end = '\0';
        sscanf(number, "%d", &portnum);
    }
    portnum += TCP_PORT_BASE;
    if (strchr(host, '.')) {
        // NOTE: a dotted host that is not an address fails the attempt; it
        // is never handed to the name resolver.
        const u_long a = inet_addr(host);
        if (a == INADDR_NONE) {
            notice(HOLD_FAILURE, "Cannot find specified IP host");
            return 1;
        }
        insock->sin_family = AF_INET;
        insock->sin_port = htons(static_cast<u_short>(portnum));
        insock->sin_addr.s_addr = static_cast<uint32_t>(a);
        return 0;
    }
    hostent* he = gethostbyname(host);
    if (!he) {
        Check_Error();
        notice(HOLD_FAILURE, "Cannot find specified IP host");
        return 1;
    }
    insock->sin_family = AF_INET;
    insock->sin_port = htons(static_cast<u_short>(portnum));
    memcpy(&insock->sin_addr, he->h_addr_list[0], static_cast<size_t>(he->h_length));
    return 0;
}

// Waits up to 15 s for a non-blocking connect. Returns 0 when connected.
int await_connect(SOCKET s)
{
    fd_set rd, wr, ex;
    FD_ZERO(&rd);
    FD_ZERO(&wr);
    FD_ZERO(&ex);
    FD_SET(s, &wr);
    FD_SET(s, &ex);
    timeval tv;
    tv.tv_sec = CONNECT_WAIT_SECONDS;
    tv.tv_usec = 0;
    const int n = select(0, &rd, &wr, &ex, &tv);
    if (n == 0)
        return 1;
    if (n > 0 && FD_ISSET(s, &wr))
        return 0;
    const int err = Check_Error();
    OutputDBString_word("Select error: %d\n", static_cast<unsigned short>(err));
    return 1;
}

} // namespace

void InitDLLTimer(HWND hwnd, HINSTANCE hinst)
{
    set_timer_app_window(hwnd);
    hTimerApp = hinst;
}

char* getCurServi()
{
    const int cur = cur_serv();
    return ports[0].serv[(cur >= 0 && cur < MAX_SERVICES) ? cur : 0].name;
}

void InitPort(signed char portNumber)
{
    reset_port();
    set_port_state(PORT_IDLE);
    if (load_data_win(static_cast<char>(portNumber)) != 0)
        SendNotice(WM_NOTICE_ALERT, HOLD_PROGRESS, "Can't read service names from registry");
}

int InitWsock()
{
    if (wsockInitted)
        return 0;
    WSADATA data;
    const int err = WSAStartup(MAKEWORD(1, 1), &data);
    if (err != 0) {
        Check_Error();
        notice(HOLD_FAILURE, "Could not initialize Winsock.  Version 1.1 or higher is required.");
        return err;
    }
    wsockInitted = 1;
    return 0;
}

int DeInitWsock()
{
    if (wsockInitted == 1 && port_state() == PORT_CONNECTED)
        return 0;
    if (WSACleanup() != 0) {
        const int err = Check_Error();
        notice(HOLD_FAILURE, "Could not DeInit Winsock");
        return err;
    }
    wsockInitted = 0;
    return 0;
}

int inicom_95(signed char portNumber)
{
    dprintf("kolmport: inicom\n");
    InitPort(portNumber);
    if (InitWsock() != 0) {
        notice(HOLD_FAILURE, "Connection failed to initialize.");
        return -3;
    }
    return 0;
}

int conn_95(signed char portNumber)
{
    dprintf("kolm32: conn_95\n");
    set_online(0);
    begin_connection();
    char notestr[NOTICE_TEXT_LEN];
    for (int i = 0; i < MAX_SERVICES; ++i) {
        const service_desc* s = &ports[0].serv[i];
        if (s->name[0] == '\0')
            continue;
        wsprintfA(notestr, "Attempting to connect to service %s", s->name);
        notice(HOLD_PROGRESS, notestr);
        if (Make_Connection(portNumber, static_cast<signed char>(i)) == 0) {
            set_online(1);
        } else {
            notice(HOLD_PROGRESS, "First attempt failed.  Will try again.");
            heinous_pause(RETRY_PAUSE_MS);
            if (Make_Connection(portNumber, static_cast<signed char>(i)) == 0)
                set_online(1);
        }
        if (online()) {
            start_pumps(port_socket());
            wsprintfA(notestr, "Successfully redirected %s to service %s", portName, s->name);
            notice(HOLD_SUCCESS, notestr);
            break;
        }
    }
    if (!online()) {
        notice(HOLD_FAILURE, "Failed to connect to any service.");
        return -3;
    }
    return 0;
}

int Make_Connection(signed char portNumber, signed char serviceNumber)
{
    (void)portNumber;
    service_desc* s = &ports[0].serv[serviceNumber];
    char tmpsvc[STORED_TEXT_LEN];
    strncpy(tmpsvc, s->name, sizeof tmpsvc - 1);
    tmpsvc[sizeof tmpsvc - 1] = '\0';
    dprintf("make_conn: host = [%s]\n", tmpsvc);

    const bool ipx = s->protocol == PROTO_IPX;
    sockaddr_ipx remAddr;
    sockaddr_in insock;
    memset(&remAddr, 0, sizeof remAddr);
    memset(&insock, 0, sizeof insock);
    if (ipx) {
        if (strchr(tmpsvc, ':')) {
            if (!parse_explicit_ipx(tmpsvc, &remAddr))
                return 1;
        } else if (locate_ipx_service(s, tmpsvc, &remAddr) != 0) {
            return 1;
        }
        remAddr.sa_family = AF_IPX;
        remAddr.sa_socket = htons(static_cast<u_short>(ntohs(remAddr.sa_socket) + SPX_SOCKET_OFFSET));
    } else if (resolve_tcp_service(tmpsvc, &insock) != 0) {
        return 1;
    }

    const SOCKET sock = ipx ? socket(AF_IPX, SOCK_STREAM, NSPROTO_SPX) : socket(AF_INET, SOCK_STREAM, 0);
    if (sock == INVALID_SOCKET) {
        Check_Error();
        notice(HOLD_FAILURE, "Error creating Windows Socket");
        return -1;
    }
    u_long mode = 1;
    ioctlsocket(sock, FIONBIO, &mode);
    const int rc = ipx ? connect(sock, reinterpret_cast<const sockaddr*>(&remAddr), sizeof remAddr)
                       : connect(sock, reinterpret_cast<const sockaddr*>(&insock), sizeof insock);
    if (rc == SOCKET_ERROR) {
        if (WSAGetLastError() != WSAEWOULDBLOCK || await_connect(sock) != 0) {
            closesocket(sock);
            return 1;
        }
    }
    set_port_socket(static_cast<unsigned>(sock));
    set_cur_serv(serviceNumber);
    set_port_state(PORT_CONNECTED);
    mode = 0;
    ioctlsocket(sock, FIONBIO, &mode);
    return 0;
}

int disconn_95(signed char portNumber)
{
    (void)portNumber;
    notice(HOLD_SUCCESS, "Disconnecting.");
    if (Kill_Connection(port_socket()) != 0) {
        notice(HOLD_FAILURE, "Failed to disconnect!");
        return -2;
    }
    notice(HOLD_SUCCESS, "Disconnected.");
    set_online(0);
    set_port_state(PORT_APP_CLOSED);
    SetEvent(VxDToNetEventR3);
    SetEvent(NetToVxDEventR3);
    // NOTE: the pumps wake from the close or the events and leave the
    // socket before Windows Sockets is cleaned up, which they would
    // otherwise find gone under them.
    if (auto link = current_link())
        link->await_off_socket();
    DeInitWsock();
    return 0;
}

int Kill_Connection(unsigned socket)
{
    set_online(0);
    asyncSelect(socket, 0);
    linger lg;
    lg.l_onoff = 1;
    lg.l_linger = 0;
    if (setsockopt(socket, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&lg), sizeof lg) == SOCKET_ERROR)
        Check_Error();
    const int rc = closesocket(socket);
    if (rc == SOCKET_ERROR)
        Check_Error();
    return rc;
}

int asyncSelect(unsigned socket, long bitmask)
{
    const int rc = WSAAsyncSelect(socket, timer_app_window(), WM_SOCKET_NOTIFY, bitmask);
    if (rc == SOCKET_ERROR)
        Check_Error();
    return rc;
}

unsigned char BtoH(char ch)
{
    if (ch >= '0' && ch <= '9')
        return static_cast<unsigned char>(ch - '0');
    if (ch >= 'A' && ch <= 'F')
        return static_cast<unsigned char>(ch - 'A' + 10);
    if (ch >= 'a' && ch <= 'f')
        return static_cast<unsigned char>(ch - 'a' + 10);
    return 0xFF;
}

void AtoH(char* src, char* dest, int destlen)
{
    for (int i = 0; i < destlen; ++i, src += 2)
        dest[i] = static_cast<char>((BtoH(src[0]) * 16 + BtoH(src[1])) & 0xFF);
}

int Check_Error()
{
    const int err = WSAGetLastError();
    if (err != swap_last_error(err) && err != 0) {
        OutputDBString_word("WS error: %d\n", static_cast<unsigned short>(err));
        Clear_Error();
    }
    return err;
}

void Clear_Error()
{
    WSASetLastError(0);
}
