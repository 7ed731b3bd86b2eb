#!/usr/bin/env bash
# Builds the project and runs every test suite.
#
# KOLM_SANITIZE=thread (or address) builds a ThreadSanitizer (or
# AddressSanitizer + UBSan) variant into build-thread (build-address) and runs
# the suites labelled "threads": the runtime, the configuration and SAP
# discovery, the kernel and window areas the runtime's threads rely on, and
# Windows Sockets and the IPX segment (receiver and timer threads).
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
if [ -n "${KOLM_SANITIZE:-}" ]; then
  export KOLM_BUILD_DIR="${KOLM_BUILD_DIR:-$here/build-$KOLM_SANITIZE}"
  KOLM_CMAKE_ARGS="-DKOLM_SANITIZE=$KOLM_SANITIZE" "$here/scripts/build.sh" \
    runtime_tests config_tests kernel_tests user_tests winsock_tests ipx_tests
  cd "$KOLM_BUILD_DIR"
  export TSAN_OPTIONS="${TSAN_OPTIONS:-halt_on_error=1 second_deadlock_stack=1}"
  export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=0}"
  ctest --output-on-failure -j"$(nproc)" --timeout 300 -L threads
  exit 0
fi
"$here/scripts/build.sh"
cd "${KOLM_BUILD_DIR:-$here/build}"
ctest --output-on-failure -j"$(nproc)" --timeout 300 -LE soak
