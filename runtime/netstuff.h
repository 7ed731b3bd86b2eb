// Connections to the network services and the transfer routines.
#pragma once

#include "win32.h"
#include "kolmvx.h"

#define TCP_PORT_BASE 10000
#define TCP_DEFAULT_NUMBER 2001
#define SPX_SOCKET_OFFSET 0x0800
#define CONNECT_WAIT_SECONDS 15
#define RETRY_PAUSE_MS 700

// Hold times of the notices, in tenths of a second.
#define HOLD_PROGRESS 0
#define HOLD_SUCCESS 25
#define HOLD_FAILURE 40

// A receive that found the connection closed in order by the peer. Stored in
// a status word like a socket error, so the pump ends the connection instead
// of receiving again.
#define STATUS_PEER_CLOSED WSAEDISCON

void InitDLLTimer(HWND hwnd, HINSTANCE hinst);

// Connection manager.
int inicom_95(signed char portNumber);
int conn_95(signed char portNumber);
int disconn_95(signed char portNumber);
int Make_Connection(signed char portNumber, signed char serviceNumber);
int Kill_Connection(unsigned socket);
int asyncSelect(unsigned socket, long bitmask);
void InitPort(signed char portNumber);
int InitWsock();
int DeInitWsock();
char* getCurServi();
void AtoH(char* src, char* dest, int destlen);
unsigned char BtoH(char ch);
int Check_Error();
void Clear_Error();

// Network transfer between a socket and a byte ring.
int xferToNet_95(unsigned socket, char* toNetBf, AppyQ* toNetQ, int* status);
int xferFromNet_95(unsigned socket, char* fromNetBf, AppyQ* fromNetQ, int* status);
int writeCommString_95(unsigned socket, char* buf, int size, int* status);
int readcommstring_proc(unsigned socket, char* buf, int size, int* status);
int can_i_tx(unsigned socket);
void heinous_pause(int howlong);
