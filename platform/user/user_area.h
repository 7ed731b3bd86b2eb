// What the user area's own files include instead of win32.h: the base
// types, kernel (last error) and user declarations only. The Winsock
// declarations that win32.h also brings would clash with the POSIX socket
// headers the mailbox code needs.
#pragma once

#include "win32/types.h"
#include "win32/kernel.h"
#include "win32/user.h"
