#!/usr/bin/env bash
# Installs the Debian packages the build, the program and the tests need,
# and only those that are missing, so a second run costs a dpkg query.
set -euo pipefail

packages=(
  cmake ninja-build googletest python3
  g++-mingw-w64-i686 g++-mingw-w64-x86-64
  wine64 libgl1-mesa-dri libglx-mesa0
  xvfb xauth xdotool x11-utils imagemagick fonts-ipafont-gothic icoutils
  libasound2
  # The desktop every private display gets (tests/support/desktop.py): a
  # window manager, a tool to close windows through it, and the X libraries
  # the module loads by itself.
  openbox wmctrl libx11-6 libxdamage1
  # The emulated 32-bit Wine of the release tier (scripts/wine32-setup.sh).
  qemu-user-static
)

missing=()
for package in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)
  [[ "$status" == "install ok installed" ]] || missing+=("$package")
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

sudo=()
[[ $(id -u) -eq 0 ]] || sudo=(sudo)
echo "Installing: ${missing[*]}" >&2
"${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -q >&2
"${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}" >&2
