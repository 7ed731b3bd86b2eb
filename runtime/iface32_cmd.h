// The driver command service: the event path (ServiceThread, on a thread
// of its own) and the window path (doVxDCmd, on the window thread).
#pragma once

#include "win32.h"

DWORD WINAPI ServiceThread(LPVOID CmdEvent);
int doVxDCmd(LONG func);
