#!/usr/bin/env bash
# Builds the project, then runs the main job on the machine root
# ($KOLM_ROOT, or ~/.local/share/tarvizone): a fresh root gets the default
# machine (one redirected port, COM3, and its service list).
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
"$here/scripts/build.sh"
bin="${KOLM_BUILD_DIR:-$here/build}/bin"
export KOLM_ROOT="${KOLM_ROOT:-$HOME/.local/share/tarvizone}"
if [ ! -f "$KOLM_ROOT/registry.db" ]; then
  echo "New machine root $KOLM_ROOT: importing the default machine."
  "$bin/kolmreg" import "$here/share/default-machine.reg"
fi
echo "The redirected port and its services:"
"$bin/kolmreg" query 'HKLM\Enum\Root\Ports' /s
"$bin/kolmreg" query 'HKLM\SOFTWARE\Tarvizone\Redirector\1.0'
