// The Linux process entry of kolmset32: the program's resources, then
// WinMain.
#include "win32/winmain.h"

#include "kolm/program_help.h"
#include "kolmset32.h"

extern const kolm::ProgramHelp kolmset32_help;

int main(int argc, char** argv)
{
    if (const auto answered = kolm::linux_entry_options(argc, argv, kolmset32_help))
        return *answered;
    RegisterKmSetupResources();
    return kolm_run_winmain(argc, argv, WinMain);
}
