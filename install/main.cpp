// The Linux process entry of install: the program's resources, then
// WinMain.
#include "win32/winmain.h"

#include "install.h"
#include "kolm/program_help.h"

#include <sys/stat.h>

int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE hPrevInstance, LPSTR LpszCmdLine, int nCmdShow);

extern const kolm::ProgramHelp install_help;

// The argument is the install script's path: one that begins with "--" is
// still a script when a file of that name exists.
static bool names_a_file(const char* arg)
{
    struct stat st {};
    return ::stat(arg, &st) == 0;
}

int main(int argc, char** argv)
{
    if (const auto answered = kolm::linux_entry_options(argc, argv, install_help, names_a_file))
        return *answered;
    RegisterInstallResources();
    return kolm_run_winmain(argc, argv, WinMain);
}
