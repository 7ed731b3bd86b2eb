// What the dialog toolkit's own files include instead of win32.h: the base
// types and the kernel, user and dialog declarations, without the Windows
// Sockets names that would clash with POSIX headers.
#pragma once

#include "win32/types.h"
#include "win32/kernel.h"
#include "win32/user.h"
#include "win32/dialog.h"
