// The Linux process entry of install: the program's resources, then
// WinMain.
#include "win32/winmain.h"

#include "install.h"

int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE hPrevInstance, LPSTR LpszCmdLine, int nCmdShow);

int main(int argc, char** argv)
{
    RegisterInstallResources();
    return kolm_run_winmain(argc, argv, WinMain);
}
