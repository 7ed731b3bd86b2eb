// kolm32's --help page (the manual page kolm32(1) says the same at length).
#include "kolm/program_help.h"
#include "kolmids.h"

extern const kolm::ProgramHelp kolm32_help = {
    "kolm32",
    "kolm32 [--help | --version]",
    "The Tarvizone Redirector runtime. It publishes the redirected COM port of\n"
    "the machine root as a pseudo-terminal, $KOLM_ROOT/dev/COMn, and whenever an\n"
    "application opens the port it connects it to the first service of its list\n"
    "that answers. It runs in the background until its window is sent WM_DESTROY\n"
    "(kolmwin, the installer, remove) or it gets SIGTERM or SIGINT. Other\n"
    "arguments are ignored, as on Windows.\n"
    "\n"
    "Environment:\n"
    "  KOLM_ROOT             the machine root (default ~/.local/share/tarvizone)\n"
    "  KOLM_PORT_GROUP       group of the port's pseudo-terminal, which has mode\n"
    "                        0660 (default: your primary group; e.g. dialout)\n"
    "  KOLM_PORT_LINK        also publish the port at this path\n"
    "  KOLM_UI               headless or desktop (default: the desktop when DISPLAY\n"
    "                        opens)\n"
    "  KOLM_MSGBOX_ANSWERS   answers for its message boxes (IDOK,...)\n"
    "  KOLM_DRIVER_COMMANDS  window: the port driver's commands come as WM_COMMAND\n"
    "  KOLM_IPX_IF, KOLM_IPX_GROUP, KOLM_IPX_NET\n"
    "                        the IPX segment's interface, multicast group and\n"
    "                        network number\n"
    "  KOLM_SPX_*            SPX timers and window (see kolm32(1))\n"
    "  KOLM_TRACE, KOLM_DEBUG, KOLM_PORT_TRACE\n"
    "                        traces on standard error\n"
    "\n"
    "Files:\n"
    "  $KOLM_ROOT/registry.db     the port (HKLM\\Enum\\Root\\Ports) and the service\n"
    "                             list (HKLM\\" KOLM_CONFIG_KEY ")\n"
    "  $KOLM_ROOT/dev/COMn        the port: a link to its pseudo-terminal\n"
    "  $KOLM_ROOT/run/screen.log  its notices, one line each, also written to\n"
    "                             standard error\n"
    "\n"
    "Exit status: 0 when it was asked to end, 1 when it could not start, 2 for an\n"
    "unknown option.\n",
    KOLM_PRODUCT_ON_LINUX,
};
