// Private window messages of the runtime window "kolm32". Their numbers are
// an interface with the port driver and with kolmset32, and are fixed.
#pragma once

#include "win32.h"

#define WM_NOTICE (WM_USER + 151)          // 1175: notice, no button
#define WM_KILL_NOTICE (WM_USER + 152)     // 1176
#define WM_PREP_DISCONNECT (WM_USER + 153) // 1177
#define WM_REDIR_NOP (WM_USER + 154)       // 1178
#define WM_SOCKET_NOTIFY (WM_USER + 155)   // 1179
#define WM_NOTICE_ALERT (WM_USER + 156)    // 1180: notice with an OK button
#define WM_GET_STATUS (WM_USER + 157)      // 1181: answered with the status word

#define KOLM32_CLASS "kolm32"
#define KOLM32_TITLE "kolm32"
