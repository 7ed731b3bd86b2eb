// Finding IPX services by SAP: a poll that fills a list box, or a lookup of
// one service name that returns its IPX address.
#pragma once

#include "win32.h"
#include "win32/wsipx.h"

#define SAP_SOCKET 0x0452
#define SAP_SERVER_TYPE 0x052C
#define SAP_GENERAL_QUERY 0x0001
#define SAP_PACKET_TYPE 4
#define SAP_ENTRY_SIZE 64
#define SAP_NAME_LEN 48
#define SAP_MAX_ENTRIES 7
#define SAP_RCVBUF_LEN 500

#pragma pack(push, 1)
// One server entry of a SAP answer (64 bytes, numbers high byte first).
typedef struct sapEntry {
    unsigned short type;
    char name[SAP_NAME_LEN];
    char network[4];
    char node[6];
    unsigned short socket;
    unsigned short hops;
} sapEntry;
#pragma pack(pop)
static_assert(sizeof(sapEntry) == SAP_ENTRY_SIZE, "a SAP entry is 64 bytes");

int gatherServices(HWND hDlg, int listbox, char* name, struct sockaddr_ipx* addr, int* found);
int nwParseData(unsigned sock, HWND hDlg, int listbox, char* name, struct sockaddr_ipx* addr, int* found);
int WaitForStuff(unsigned sock, int seconds);
long HowMuchRx(unsigned socket);
int setBcast(struct sockaddr_ipx* addr, unsigned sock);
void clipName(char* name);
int InitWsock2(HWND hwnd);
int DeInitWsock2(HWND hwnd);
