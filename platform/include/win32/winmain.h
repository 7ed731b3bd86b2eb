// The Linux process entry of a program: builds what WinMain is given on
// Windows (the instance handle, no previous instance, the command line
// after the program name, SW_SHOWNORMAL) and runs it.
#pragma once

#include "win32/types.h"

typedef int(WINAPI* WINMAIN_PROC)(HINSTANCE, HINSTANCE, LPSTR, int);

// The instance handle of the running program (GetModuleHandleA(NULL)).
#define KOLM_PROGRAM_INSTANCE 0x00400000u

int kolm_run_winmain(int argc, char** argv, WINMAIN_PROC winmain);
