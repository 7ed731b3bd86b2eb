// The trace facility, one copy in kolm32 and one in kolmset32. Silent in
// the delivered configuration; with KOLM_TRACE set (to anything but "" or
// "0") when the program starts, traces go to standard error.
#pragma once

#include "win32.h"

// Traces a wsprintfA-style format and its arguments. Returns the
// characters written, 0 when tracing is off.
//
// NOTE: the C library declares its own dprintf(int fd, const char*, ...).
// This one takes the format first, so it is a separate overload and every
// call with a format string reaches it, whatever the include order.
int dprintf(const char* fmt, ...);

// Traces the format s with one unsigned 16-bit value, cut to 79 characters.
void OutputDBString_word(const char* s, unsigned short w);

// Trace category mask; no trace call consults it.
extern int what2debug;
