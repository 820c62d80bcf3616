#!/usr/bin/env bash
# Builds the 32-bit release target and packs the archive for Windows users,
# build/win32/Vexalune-<version>-win32.zip: the stripped exe and README.txt.
# Prints the archive's path. Two runs on the same sources give the same bytes.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"

scripts/deps.sh
cmake --preset win32 >/dev/null
cmake --build build/win32 --target package >&2
version=$(sed -n 's/^VEXALUNE_VERSION:INTERNAL=//p' build/win32/CMakeCache.txt)
echo "$root/build/win32/Vexalune-$version-win32.zip"
