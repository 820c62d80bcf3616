#!/usr/bin/env bash
# Builds both presets and runs every test of the 64-bit build under Wine:
# unit tests, tests against Wine's real platform, resource and end-to-end
# tests. Exits non-zero when anything fails.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"

scripts/deps.sh

for preset in win32 win64; do
  cmake --preset "$preset" >/dev/null
  cmake --build "build/$preset"
done

source scripts/wine-env.sh
vexalune_ensure_prefix

# Tests that need a window get a private virtual display, whatever $DISPLAY
# says: they must not pop up on a real desktop, nor depend on one.
exec 3< <(Xvfb -displayfd 1 -screen 0 1024x768x24 -nolisten tcp 2>/dev/null)
xvfb_pid=$!
read -r -t 10 display_number <&3
trap 'kill "$xvfb_pid" 2>/dev/null; /usr/lib/wine/wineserver -k 2>/dev/null || true' EXIT
export DISPLAY=":$display_number"

ctest --test-dir build/win64 --output-on-failure "$@"
