// The Linux process entry of kolm32: what Windows did before WinMain ran
// (the program's resources, the port driver loaded for the redirected
// port), then WinMain itself.
#include "win32/winmain.h"

#include "kolm32.h"

int main(int argc, char** argv)
{
    RegisterKolm32Resources();
    return kolm_run_winmain(argc, argv, WinMain);
}
