// The installer's --help page (the manual page kolminstall(1) says the
// same at length).
#include "kolm/program_help.h"
#include "kolmids.h"

extern const kolm::ProgramHelp install_help = {
    "install",
    "install [SCRIPT]\n"
    "       install --help | --version",
    "The Tarvizone Redirector's installer. It registers the port driver and one\n"
    "new redirected COM port (the first of COM3 to COM9 the machine does not\n"
    "have) in the machine root, writes the setup program's response file and the\n"
    "uninstall entry, stops a running kolm32 and starts the setup program, which\n"
    "copies the product to its folder and stores the service list.\n"
    "\n"
    "Without SCRIPT it asks with dialogs (Automatic or Manual, then the folder).\n"
    "SCRIPT, a Windows path (C:\\inst.txt) or a Linux path, holds lines\n"
    "path=FOLDER and sv1= to sv4= (ip:HOST:N for TCP port 10000+N on HOST,\n"
    "ipx:NAME for an IPX service). An argument beginning with \"--\" is an\n"
    "unknown option unless a file of that name exists.\n"
    "\n"
    "Environment:\n"
    "  KOLM_ROOT            the machine root (default ~/.local/share/tarvizone)\n"
    "  KOLM_UI              headless or desktop (default: the desktop when DISPLAY\n"
    "                       opens)\n"
    "  KOLM_MSGBOX_ANSWERS  answers for its message boxes, in order (IDCANCEL,...)\n"
    "  KOLM_SYSFS_TTY       where the host's serial ports are listed\n"
    "                       (default /sys/class/tty)\n"
    "  KOLM_HELP_DIR        the folder of the help pages\n"
    "  KOLM_HELP_OPENER     the program that shows a help page (default xdg-open)\n"
    "  WINDIR               the Windows folder (default C:\\WINDOWS)\n"
    "\n"
    "Files:\n"
    "  $KOLM_ROOT/registry.db            the device registry and uninstall entry\n"
    "  $KOLM_ROOT/drive_c/WINDOWS/kolmvx.iss  the setup program's response file\n"
    "  $KOLM_ROOT/drive_c/WINDOWS/kolmvx.log  the setup program's result\n"
    "  $KOLM_ROOT/run/screen.log         its dialogs and message boxes, when headless\n"
    "  second, remove, kolm32, kolmset32 and help/ beside the installer: what the\n"
    "                                    setup program copies\n"
    "\n"
    "Exit status: 0 when the setup program was started, 1 after an error box,\n"
    "2 when the update was declined or for an unknown option, 3 when the\n"
    "script could not be read.\n",
    KOLM_PRODUCT_ON_LINUX,
};
