/* The names by which the programs, the installer and the tools know the
 * product on a machine: the maker's mark on the redirected port's device
 * key, the configuration key, and the product's name. Each is written here
 * once; macros, so that they can be joined into longer texts. */
#pragma once

/* "Mfg" of the redirected port's key under HKLM\Enum\Root\Ports. */
#define KOLM_MAKER "Tarvizone"
/* Under HKLM: the service list, and the runtime's published values. */
#define KOLM_CONFIG_KEY "SOFTWARE\\" KOLM_MAKER "\\Redirector\\1.0"
#define KOLM_PRODUCT KOLM_MAKER " Redirector"
/* Under HKLM: the uninstall entry the installer writes. */
#define KOLM_UNINSTALL_KEY "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" KOLM_PRODUCT
/* What --version names after the program. */
#define KOLM_PRODUCT_ON_LINUX KOLM_PRODUCT " for Linux"
