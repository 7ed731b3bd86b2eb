#!/usr/bin/env bash
# Builds the project and runs every test suite.
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
"$here/scripts/build.sh"
cd "${KOLM_BUILD_DIR:-$here/build}"
ctest --output-on-failure -j"$(nproc)" --timeout 300
