#include "win32/winmain.h"

#include <string>

#include "win32.h"

HMODULE GetModuleHandleA(LPCSTR lpModuleName)
{
    if (!lpModuleName)
        return DwordToHandle<HMODULE>(KOLM_PROGRAM_INSTANCE);
    HMODULE m = LoadLibraryA(lpModuleName);
    if (!m)
        SetLastError(ERROR_MOD_NOT_FOUND);
    return m;
}

int kolm_run_winmain(int argc, char** argv, WINMAIN_PROC winmain)
{
    // NOTE: arguments are joined with single blanks, quoted when they hold
    // a blank, so the program sees one command line as on Windows.
    std::string cmdline;
    for (int i = 1; i < argc; ++i) {
        if (!cmdline.empty())
            cmdline += ' ';
        const std::string arg = argv[i];
        if (arg.find_first_of(" \t") != std::string::npos)
            cmdline += '"' + arg + '"';
        else
            cmdline += arg;
    }
    return winmain(GetModuleHandleA(nullptr), nullptr, cmdline.data(), SW_SHOWNORMAL);
}
