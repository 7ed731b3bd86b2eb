#!/usr/bin/env bash
# Installs the Debian packages the project needs to build, run and test.
# Idempotent and quiet when nothing is missing.
set -euo pipefail

packages=(
  build-essential cmake pkg-config
  libsqlite3-dev sqlite3
  libgtest-dev googletest
  python3
  python3-serial picocom socat ser2net
  libfltk1.3-dev xvfb xauth x11-apps x11-utils xdotool imagemagick
  # The Debian packages (dpkg-shlibdeps, file for CPack), the manual pages'
  # checks and the user unit's (systemd-analyze).
  dpkg-dev file groff-base man-db systemd
  clang-14 libclang-rt-14-dev llvm-14
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
echo "Installing: ${missing[*]}" >&2
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
