// The Linux process entry of a program: builds what WinMain is given on
// Windows (the instance handle, no previous instance, the command line
// after the program name, SW_SHOWNORMAL) and runs it.
#pragma once

#include "win32/types.h"

typedef int(WINAPI* WINMAIN_PROC)(HINSTANCE, HINSTANCE, LPSTR, int);

// The instance handle of the running program (GetModuleHandleA(NULL)).
#define KOLM_PROGRAM_INSTANCE 0x00400000u

// Returns WinMain's result. The caller releases what it holds for WinMain
// and then ends the process with ExitProcess(result), as the C runtime
// does on Windows once WinMain returns: threads of the program may still
// run then (docs/threads.md).
int kolm_run_winmain(int argc, char** argv, WINMAIN_PROC winmain);
