// The Windows Sockets IPX address record and protocol numbers.
#pragma once

#include "win32/types.h"

#define AF_IPX 6
#define NSPROTO_IPX 1000
#define NSPROTO_SPX 1256
#define NSPROTO_SPXII 1257

// 14 bytes, no padding: network and node are byte arrays, most significant
// byte first; the socket number is in network byte order.
typedef struct sockaddr_ipx {
    short sa_family;
    char sa_netnum[4];
    char sa_nodenum[6];
    unsigned short sa_socket;
} SOCKADDR_IPX, *PSOCKADDR_IPX, *LPSOCKADDR_IPX;

static_assert(sizeof(sockaddr_ipx) == 14, "sockaddr_ipx is a 14-byte wire record");
