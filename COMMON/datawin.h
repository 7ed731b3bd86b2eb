// Loading and saving the redirected port's configuration in the registry.
#pragma once

#include "data.h"
#include "kolm/port_drivers.h"

extern const char keyPath[];  // KOLM_CONFIG_KEY
extern const char portPath[]; // "Enum\Root\Ports"

// The redirected port: the first key under portPath whose "Mfg" is the
// maker's mark. Its key name into `subkey`; ERROR_FILE_NOT_FOUND when no
// port is registered, ERROR_NO_MORE_ITEMS when none carries the mark.
LONG findRedirectedPort(char* subkey, DWORD size);
// The same, and the configuration key, as the runtime hands them to the
// port driver before loading it.
extern const RedirectedPortInfo redirectedPort;

void readPortName();
int load_data_win(char portNumber);
int save_data_win();
