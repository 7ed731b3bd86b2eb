// The Linux process entry of kolmset32: the program's resources, then
// WinMain.
#include "win32/winmain.h"

#include "kolmset32.h"

int main(int argc, char** argv)
{
    RegisterKmSetupResources();
    return kolm_run_winmain(argc, argv, WinMain);
}
