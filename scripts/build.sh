#!/usr/bin/env bash
# Configures and builds the project into build/ (or $KOLM_BUILD_DIR).
# With target names, builds only those (and what they need).
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
"$here/scripts/deps.sh"
build="${KOLM_BUILD_DIR:-$here/build}"
cmake -S "$here" -B "$build" -DCMAKE_BUILD_TYPE="${KOLM_BUILD_TYPE:-RelWithDebInfo}" ${KOLM_CMAKE_ARGS:-} >/dev/null
if [ $# -gt 0 ]; then
  cmake --build "$build" -j"$(nproc)" --target "$@"
else
  cmake --build "$build" -j"$(nproc)"
fi
