// Loading and saving the redirected port's configuration in the registry.
#pragma once

#include "data.h"

extern const char keyPath[];  // "SOFTWARE\Tarvizone\Redirector\1.0"
extern const char portPath[]; // "Enum\Root\Ports"

void readPortName();
int load_data_win(char portNumber);
int save_data_win();
