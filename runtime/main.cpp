// The Linux process entry of kolm32: what Windows did before WinMain ran
// (the program's resources, the port driver loaded for the redirected
// port), then WinMain itself.
#include "win32/winmain.h"

#include "internal/program_help.h"
#include "kolm32.h"
#include "portdrv/port_loader.h"

extern const kolm::ProgramHelp kolm32_help;

int main(int argc, char** argv)
{
    if (const auto answered = kolm::linux_entry_options(argc, argv, kolm32_help))
        return *answered;
    RegisterKolm32Resources();
    // Held until WinMain returns: the port stays published while the
    // runtime runs and its links go with it.
    const auto port_drivers = kolm::platform::portdrv::load_port_drivers();
    return kolm_run_winmain(argc, argv, WinMain);
}
