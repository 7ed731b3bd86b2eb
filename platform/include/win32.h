// The one header the programs include: the Win32 and Windows Sockets 1.1
// surface of the platform layer, playing the part of windows.h + winsock.h.
//
// Programs include nothing else from the system: the C library pieces they
// use (string, stdio, stdlib, ctype) come through here too.
#pragma once

#include <cctype>
#include <climits>
#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "win32/types.h"
#include "win32/kernel.h"
#include "win32/registry.h"
#include "win32/user.h"
#include "win32/dialog.h"
#include "win32/winsock.h"
