// The two pump threads of a connection: application output from the driver
// to the network, and network input to the driver.
#pragma once

#include "win32.h"

struct PumpLink;

// One pump pass on the socket of the pump's connection.
void VxDToNet(signed char portNumber, const PumpLink& link, int* status);
DWORD WINAPI VxDToNetThread(LPVOID dummy);
DWORD WINAPI NetToVxDThread(LPVOID dummy);
