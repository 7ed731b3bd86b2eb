// kolmset32's --help page (the manual page kolmset32(1) says the same at
// length).
#include "kolm/program_help.h"
#include "kolmids.h"

extern const kolm::ProgramHelp kolmset32_help = {
    "kolmset32",
    "kolmset32 [--help | --version]",
    "The Tarvizone Redirector's setup utility. It shows the redirected port's\n"
    "service list (at most four services, tried in order) and the runtime's\n"
    "state, edits the list and saves it to the registry, where kolm32 reads it\n"
    "at the next open of the port. On a desktop its dialogs are windows;\n"
    "headless, each dialog and message box is a line of the screen log, and\n"
    "kolmwin drives it. Other arguments are ignored, as on Windows.\n"
    "\n"
    "Environment:\n"
    "  KOLM_ROOT            the machine root (default ~/.local/share/tarvizone)\n"
    "  KOLM_UI              headless or desktop (default: the desktop when DISPLAY\n"
    "                       opens)\n"
    "  KOLM_MSGBOX_ANSWERS  answers for its message boxes, in order (IDYES,...)\n"
    "  KOLM_HELP_DIR        the folder of the help pages\n"
    "  KOLM_HELP_OPENER     the program that shows a help page (default xdg-open)\n"
    "  KOLM_IPX_IF, KOLM_IPX_GROUP, KOLM_IPX_NET\n"
    "                       the IPX segment polled for IPX services\n"
    "  KOLM_TRACE, KOLM_DEBUG\n"
    "                       traces on standard error\n"
    "\n"
    "Files:\n"
    "  $KOLM_ROOT/registry.db          the service list and the runtime's state\n"
    "  $KOLM_ROOT/run/screen.log       what it shows, one line each\n"
    "  $KOLM_ROOT/run/msgbox-answers   answers for message boxes, one a line\n"
    "\n"
    "Exit status: 0 when it was closed, 2 for an unknown option.\n",
    KOLM_PRODUCT_ON_LINUX,
};
