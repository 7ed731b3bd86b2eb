// Connections to the network services and the transfer routines.
#pragma once

#include "win32.h"

// The runtime window every notice goes to, and its instance; null after
// teardown, so later notices have no target.
extern HWND hWndTimerApp;
extern HINSTANCE hTimerApp;

// 1 while a connection is up: the pump threads keep running only then.
extern int redir_online;

void InitDLLTimer(HWND hwnd, HINSTANCE hinst);

// The name of the service in use (entry curServ of the first port record).
char* getCurServi();

int inicom_95(signed char port);
int conn_95(signed char port);
int disconn_95(signed char port);
