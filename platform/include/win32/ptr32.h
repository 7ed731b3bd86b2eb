// Pointers carried in the 32-bit fields of blocks shared with a port driver.
//
// NOTE: the driver blocks were laid out for a 32-bit system and hold ring
// addresses in 4-byte fields. On a 64-bit process an address does not fit,
// so the layer hands out a 32-bit token for each address instead; a driver
// inside the process turns the token back into the address. Tokens are
// stable for the life of the process and 0 stands for a null pointer.
#pragma once

#include "win32/types.h"

DWORD kolm_ptr32_from(const void* p);
void* kolm_ptr32_to(DWORD token);
