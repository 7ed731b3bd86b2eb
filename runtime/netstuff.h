// Connections to the network services and the transfer routines.
#pragma once

#include "win32.h"
#include "iface32.h"

// The runtime window every notice goes to, and its instance; null after
// teardown, so later notices have no target.
extern HWND hWndTimerApp;
extern HINSTANCE hTimerApp;

// 1 while a connection is up: the pump threads keep running only then.
extern int redir_online;
extern char wsockInitted;
extern int lasterror;

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

struct PumpLink;

// Pump threads and one pump pass on the socket of the pump's connection.
void VxDToNet(signed char portNumber, const PumpLink& link, int* status);
DWORD WINAPI VxDToNetThread(LPVOID dummy);
DWORD WINAPI NetToVxDThread(LPVOID dummy);

// Shared flags, read and written as single atomic steps so the pump threads
// and the command paths see each other's writes in order.
int online();
void set_online(int v);
signed char port_state();
void set_port_state(signed char v);
unsigned port_socket();

// Each connection's pump threads carry its number. A pump of an earlier
// connection that runs late (its socket was closed and a new connection is
// already up) must neither work on nor report for the new one.
unsigned current_connection();
bool connection_is(unsigned id); // still online, and still this connection
