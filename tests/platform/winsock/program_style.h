// A client written the way the programs write theirs, in a translation
// unit that includes nothing but win32.h.
#pragma once

// Connects to 127.0.0.1:port (the host looked up by name), sends `text`,
// reads the echo into reply (NUL-terminated) and closes with a reset.
// Returns 0, or the step that failed (1 and up).
int program_style_echo(unsigned short port, const char* text, char* reply, int size);
