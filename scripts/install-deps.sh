#!/usr/bin/env bash
# Installs every Debian package the project needs to build, test, benchmark, fuzz and run.
# Idempotent and quiet: does nothing when everything is already there.
set -euo pipefail

PACKAGES=(
  # build
  cmake ninja-build g++ pkgconf clang libclang-rt-14-dev
  # libraries
  qt6-base-dev qt6-tools-dev libqt6uitools6 libplist-dev libglib2.0-dev libusb-1.0-0-dev
  # tests and benchmarks
  googletest libgtest-dev libgmock-dev libbenchmark-dev ncompress python3
  # fonts for the offscreen window, screenshots and trying the window by hand
  fonts-dejavu-core xvfb xauth imagemagick xdotool
  # the uninstaller's credential prompt
  pkexec
)

missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
