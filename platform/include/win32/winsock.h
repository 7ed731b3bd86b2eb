// Windows Sockets 1.1 of the platform layer: TCP over kernel sockets, IPX
// datagrams over the layer's own IPX segment.
//
// Every declaration lives in namespace win32. The C library that win32.h
// brings in (through <cstdlib>) already declares select, fd_set, the FD_*
// macros, struct timeval and a 64-bit u_long at global scope, so a program
// sees the Winsock forms through the mappings at the end of this file:
// macros for the names glibc has taken, using-declarations for the rest.
// Files of the layer that define KOLM_PLATFORM_INTERNAL get no mappings and
// name everything as win32::...; they never include POSIX socket headers,
// whose constants (SOL_SOCKET, AF_IPX, FIONREAD, ...) differ from these.
#pragma once

#include "win32/types.h"
#include "win32/wsaerror.h"
#include "win32/wsipx.h"
#include "win32/wsnwlink.h"

// The same types as glibc's typedefs of these names, so both may be seen.
typedef unsigned char u_char;
typedef unsigned short u_short;
typedef unsigned int u_int;

namespace win32 {

// Winsock's u_long is 32 bits (Windows is LLP64); glibc's is 64.
typedef uint32_t u_long;

// A socket value fits in 32 bits (the programs keep it in an unsigned int)
// and is never reused while the process runs long enough to matter.
typedef u_int SOCKET;

// ---- select ------------------------------------------------------------
inline constexpr u_int kFdSetSize = 64;

typedef struct fd_set {
    u_int fd_count; // how many entries of fd_array are in use
    SOCKET fd_array[kFdSetSize];
} fd_set, *PFD_SET, *LPFD_SET;

// Winsock's own time-out record; only the two fields are ever used.
struct timeval {
    LONG tv_sec;
    LONG tv_usec;
};
typedef struct timeval TIMEVAL, *PTIMEVAL, *LPTIMEVAL;

int __WSAFDIsSet(SOCKET s, fd_set* set);

// Adds a socket once; a full set is left as it is.
inline void fd_set_add(SOCKET s, fd_set* set)
{
    for (u_int i = 0; i < set->fd_count; ++i)
        if (set->fd_array[i] == s)
            return;
    if (set->fd_count < kFdSetSize)
        set->fd_array[set->fd_count++] = s;
}

// Removes a socket, keeping the order of the others.
inline void fd_set_remove(SOCKET s, fd_set* set)
{
    for (u_int i = 0; i < set->fd_count; ++i) {
        if (set->fd_array[i] == s) {
            for (u_int j = i + 1; j < set->fd_count; ++j)
                set->fd_array[j - 1] = set->fd_array[j];
            --set->fd_count;
            return;
        }
    }
}

// ---- addresses ---------------------------------------------------------
struct in_addr {
    u_long s_addr; // network byte order
};

struct sockaddr {
    u_short sa_family;
    char sa_data[14];
};

struct sockaddr_in {
    short sin_family;
    u_short sin_port; // network byte order
    struct in_addr sin_addr;
    char sin_zero[8];
};
static_assert(sizeof(sockaddr_in) == 16, "sockaddr_in is 16 bytes");

typedef struct sockaddr SOCKADDR, *PSOCKADDR, *LPSOCKADDR;
typedef struct sockaddr_in SOCKADDR_IN, *PSOCKADDR_IN, *LPSOCKADDR_IN;
typedef struct in_addr IN_ADDR, *PIN_ADDR, *LPIN_ADDR;

struct hostent {
    char* h_name;
    char** h_aliases;
    short h_addrtype;
    short h_length;
    char** h_addr_list; // null-terminated
};
typedef struct hostent HOSTENT, *PHOSTENT, *LPHOSTENT;

// Two 16-bit fields, unlike the two ints of the Linux structure.
struct linger {
    u_short l_onoff;
    u_short l_linger; // seconds
};
typedef struct linger LINGER, *PLINGER, *LPLINGER;

// ---- start-up ----------------------------------------------------------
inline constexpr int kWsaDescriptionLen = 256;
inline constexpr int kWsaSysStatusLen = 128;

typedef struct WSAData {
    WORD wVersion;
    WORD wHighVersion;
    char szDescription[kWsaDescriptionLen + 1];
    char szSystemStatus[kWsaSysStatusLen + 1];
    unsigned short iMaxSockets;
    unsigned short iMaxUdpDg;
    char* lpVendorInfo;
} WSADATA, *LPWSADATA;

int WSAStartup(WORD wVersionRequested, LPWSADATA lpWSAData);
int WSACleanup();
int WSAGetLastError();
void WSASetLastError(int iError);

// ---- sockets -----------------------------------------------------------
SOCKET socket(int af, int type, int protocol);
int bind(SOCKET s, const struct sockaddr* name, int namelen);
int connect(SOCKET s, const struct sockaddr* name, int namelen);
int listen(SOCKET s, int backlog);
SOCKET accept(SOCKET s, struct sockaddr* addr, int* addrlen);
int send(SOCKET s, const char* buf, int len, int flags);
int recv(SOCKET s, char* buf, int len, int flags);
int sendto(SOCKET s, const char* buf, int len, int flags, const struct sockaddr* to, int tolen);
int recvfrom(SOCKET s, char* buf, int len, int flags, struct sockaddr* from, int* fromlen);
int shutdown(SOCKET s, int how);
int closesocket(SOCKET s);
int getsockname(SOCKET s, struct sockaddr* name, int* namelen);
int getpeername(SOCKET s, struct sockaddr* name, int* namelen);
int setsockopt(SOCKET s, int level, int optname, const char* optval, int optlen);
int getsockopt(SOCKET s, int level, int optname, char* optval, int* optlen);
int ioctlsocket(SOCKET s, LONG cmd, u_long* argp);
// nfds is ignored, as Winsock does; a null time-out blocks.
int select(int nfds, fd_set* readfds, fd_set* writefds, fd_set* exceptfds, const struct timeval* timeout);
int WSAAsyncSelect(SOCKET s, HWND hWnd, UINT wMsg, LONG lEvent);

// ---- names and byte order -----------------------------------------------
// The result lives in a buffer of the calling thread, valid until that
// thread's next call.
struct hostent* gethostbyname(const char* name);
u_long inet_addr(const char* cp);
char* inet_ntoa(struct in_addr in);

inline u_short htons(u_short v)
{
#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    return static_cast<u_short>((v >> 8) | (v << 8));
#else
    return v;
#endif
}
inline u_short ntohs(u_short v) { return htons(v); }
inline u_long htonl(u_long v)
{
#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    return __builtin_bswap32(v);
#else
    return v;
#endif
}
inline u_long ntohl(u_long v) { return htonl(v); }

} // namespace win32

// ---- constants -------------------------------------------------------------
#define INVALID_SOCKET ((win32::SOCKET)(~0u))
#define SOCKET_ERROR (-1)

#define AF_UNSPEC 0
#define AF_INET 2
#define AF_NS 6
#define PF_UNSPEC AF_UNSPEC
#define PF_INET AF_INET
#define PF_IPX AF_IPX

#define SOCK_STREAM 1
#define SOCK_DGRAM 2
#define SOCK_RAW 3
#define SOCK_RDM 4
#define SOCK_SEQPACKET 5

#define IPPROTO_IP 0
#define IPPROTO_TCP 6
#define IPPROTO_UDP 17

#define INADDR_ANY 0x00000000u
#define INADDR_LOOPBACK 0x7f000001u
#define INADDR_BROADCAST 0xffffffffu
#define INADDR_NONE 0xffffffffu

#define SOL_SOCKET 0xffff
#define SO_DEBUG 0x0001
#define SO_ACCEPTCONN 0x0002
#define SO_REUSEADDR 0x0004
#define SO_KEEPALIVE 0x0008
#define SO_DONTROUTE 0x0010
#define SO_BROADCAST 0x0020
#define SO_USELOOPBACK 0x0040
#define SO_LINGER 0x0080
#define SO_OOBINLINE 0x0100
#define SO_DONTLINGER ((int)(~SO_LINGER))
#define SO_SNDBUF 0x1001
#define SO_RCVBUF 0x1002
#define SO_SNDLOWAT 0x1003
#define SO_RCVLOWAT 0x1004
#define SO_SNDTIMEO 0x1005
#define SO_RCVTIMEO 0x1006
#define SO_ERROR 0x1007
#define SO_TYPE 0x1008
#define TCP_NODELAY 0x0001

#define MSG_OOB 0x1
#define MSG_PEEK 0x2
#define MSG_DONTROUTE 0x4

#define SD_RECEIVE 0
#define SD_SEND 1
#define SD_BOTH 2

#define SOMAXCONN 5

// The _IOR/_IOW encodings with Winsock's 32-bit u_long, written out: the
// same macros over Linux's 64-bit long would give other numbers.
#define FIONREAD ((LONG)0x4004667F)
#define FIONBIO ((LONG)0x8004667E)
#define SIOCATMARK ((LONG)0x40047307)

// WSAAsyncSelect events and the lParam of its messages.
#define FD_READ 0x01
#define FD_WRITE 0x02
#define FD_OOB 0x04
#define FD_ACCEPT 0x08
#define FD_CONNECT 0x10
#define FD_CLOSE 0x20
#define WSAMAKESELECTREPLY(event, error) ((LPARAM)(DWORD)MAKELONG(event, error))
#define WSAGETSELECTEVENT(lParam) LOWORD(lParam)
#define WSAGETSELECTERROR(lParam) HIWORD(lParam)

#define h_addr h_addr_list[0]

// The fd_set helpers as Winsock defines them, over the Winsock fd_set.
#undef FD_SETSIZE
#undef FD_SET
#undef FD_CLR
#undef FD_ZERO
#undef FD_ISSET
#define FD_SETSIZE 64
#define FD_SET(fd, set) win32::fd_set_add((win32::SOCKET)(fd), (win32::PFD_SET)(set))
#define FD_CLR(fd, set) win32::fd_set_remove((win32::SOCKET)(fd), (win32::PFD_SET)(set))
#define FD_ZERO(set) (((win32::PFD_SET)(set))->fd_count = 0)
#define FD_ISSET(fd, set) win32::__WSAFDIsSet((win32::SOCKET)(fd), (win32::PFD_SET)(set))

#ifndef KOLM_PLATFORM_INTERNAL
// The names glibc has already declared at global scope.
#define fd_set win32::fd_set
#define select win32::select
#define timeval win32::timeval
#define u_long win32::u_long

using win32::SOCKET;
using win32::PFD_SET;
using win32::LPFD_SET;
using win32::TIMEVAL;
using win32::PTIMEVAL;
using win32::LPTIMEVAL;
using win32::__WSAFDIsSet;
using win32::in_addr;
using win32::sockaddr;
using win32::sockaddr_in;
using win32::SOCKADDR;
using win32::PSOCKADDR;
using win32::LPSOCKADDR;
using win32::SOCKADDR_IN;
using win32::PSOCKADDR_IN;
using win32::LPSOCKADDR_IN;
using win32::IN_ADDR;
using win32::PIN_ADDR;
using win32::LPIN_ADDR;
using win32::hostent;
using win32::HOSTENT;
using win32::PHOSTENT;
using win32::LPHOSTENT;
using win32::linger;
using win32::LINGER;
using win32::PLINGER;
using win32::LPLINGER;
using win32::WSAData;
using win32::WSADATA;
using win32::LPWSADATA;
using win32::WSAStartup;
using win32::WSACleanup;
using win32::WSAGetLastError;
using win32::WSASetLastError;
using win32::socket;
using win32::bind;
using win32::connect;
using win32::listen;
using win32::accept;
using win32::send;
using win32::recv;
using win32::sendto;
using win32::recvfrom;
using win32::shutdown;
using win32::closesocket;
using win32::getsockname;
using win32::getpeername;
using win32::setsockopt;
using win32::getsockopt;
using win32::ioctlsocket;
using win32::WSAAsyncSelect;
using win32::gethostbyname;
using win32::inet_addr;
using win32::inet_ntoa;
using win32::htons;
using win32::ntohs;
using win32::htonl;
using win32::ntohl;
#endif
