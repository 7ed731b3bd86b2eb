// Includes nothing but win32.h, as a program does, and uses the names the
// C library also declares (fd_set, FD_SET, select, timeval, u_long) as the
// programs do. It must compile without a warning.
#include "win32.h"

#include "program_style.h"

static int wait_set(SOCKET s, fd_set* rd, fd_set* wr, fd_set* ex, long seconds)
{
    FD_ZERO(rd);
    FD_ZERO(wr);
    FD_ZERO(ex);
    FD_SET(s, wr);
    FD_SET(s, ex);
    struct timeval tv;
    tv.tv_sec = seconds;
    tv.tv_usec = 0;
    return select(0, rd, wr, ex, &tv);
}

int program_style_echo(unsigned short port, const char* text, char* reply, int size)
{
    WSADATA data;
    if (WSAStartup(MAKEWORD(1, 1), &data) != 0)
        return 1;
    hostent* he = gethostbyname("localhost");
    if (!he) {
        WSACleanup();
        return 2;
    }
    struct sockaddr_in insock;
    memset(&insock, 0, sizeof insock);
    insock.sin_family = AF_INET;
    insock.sin_port = htons(port);
    memcpy(&insock.sin_addr, he->h_addr, static_cast<size_t>(he->h_length));

    SOCKET sock = socket(AF_INET, SOCK_STREAM, 0);
    if (sock == INVALID_SOCKET) {
        WSACleanup();
        return 3;
    }
    u_long mode = 1;
    ioctlsocket(sock, FIONBIO, &mode);
    int step = 0;
    if (connect(sock, reinterpret_cast<const sockaddr*>(&insock), sizeof insock) == SOCKET_ERROR) {
        fd_set rd, wr, ex;
        if (WSAGetLastError() != WSAEWOULDBLOCK || wait_set(sock, &rd, &wr, &ex, 15) <= 0 || !FD_ISSET(sock, &wr))
            step = 4;
    }
    mode = 0;
    if (step == 0 && ioctlsocket(sock, FIONBIO, &mode) != 0)
        step = 5;
    const int len = static_cast<int>(strlen(text));
    if (step == 0 && send(sock, text, len, 0) != len)
        step = 6;
    int got = 0;
    while (step == 0 && got < len && got < size - 1) {
        fd_set rd;
        FD_ZERO(&rd);
        FD_SET(sock, &rd);
        struct timeval tv = {10, 0};
        if (select(0, &rd, NULL, NULL, &tv) != 1 || !FD_ISSET(sock, &rd)) {
            step = 7;
            break;
        }
        u_long waiting = 0;
        if (ioctlsocket(sock, FIONREAD, &waiting) != 0 || waiting == 0) {
            step = 8;
            break;
        }
        const int n = recv(sock, reply + got, size - 1 - got, 0);
        if (n <= 0)
            step = 9;
        else
            got += n;
    }
    reply[got] = '\0';
    linger lg;
    lg.l_onoff = 1;
    lg.l_linger = 0;
    setsockopt(sock, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&lg), sizeof lg);
    if (closesocket(sock) != 0 && step == 0)
        step = 10;
    WSACleanup();
    return step;
}
