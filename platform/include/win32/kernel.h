// Win32 kernel32 functions of the platform layer.
#pragma once

#include "win32/types.h"

DWORD GetLastError();
void SetLastError(DWORD code);
