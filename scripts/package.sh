#!/usr/bin/env bash
# Builds the Debian packages of the product into build/packages (or
# $KOLM_BUILD_DIR/packages): tarvizone-redirector, with the runtime, its
# systemd user unit, the setup utility, the installer, the tools, the help
# and manual pages; and tarvizone-redirector-desktop, with kolmui, the only
# program that needs the toolkit and X11. Prints the packages' paths.
#
# Install them with apt (it pulls in SQLite, the toolkit and X11 from
# Debian's packages as declared):
#   apt install ./build/packages/tarvizone-redirector_*.deb ./build/packages/tarvizone-redirector-desktop_*.deb
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
build="${KOLM_BUILD_DIR:-$here/build}"
"$here/scripts/build.sh" product kolmreg kolmwin devsim kolmui >/dev/null
out="$build/packages"
rm -rf "$out"
cpack --config "$build/CPackConfig.cmake" -B "$out" >/dev/null
rm -rf "$out/_CPack_Packages"
ls -1 "$out"/*.deb
