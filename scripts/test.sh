#!/usr/bin/env bash
# Builds both presets and runs every test of the 64-bit build under Wine:
# unit tests, tests against Wine's real platform, resource and end-to-end
# tests. Then the release tier: the 32-bit build, as shipped, under an
# emulated 32-bit Wine (made once per machine by scripts/wine32-setup.sh),
# on a desktop with a window manager. Exits non-zero when anything fails.
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

status=0
ctest --test-dir build/win64 --output-on-failure "$@" || status=$?

# The release tier. Its programs run under wine32-exec.sh, which starts
# from wine32-env.sh: none of the 64-bit Wine's variables may leak into it.
scripts/wine32-setup.sh >/dev/null
openbox --sm-disable >/dev/null 2>&1 &
openbox_pid=$!
trap 'kill "$openbox_pid" "$xvfb_pid" 2>/dev/null; /usr/lib/wine/wineserver -k 2>/dev/null || true' EXIT
started=$SECONDS
env -u VEXALUNE_BUILD -u WINEPREFIX -u WINELOADER -u WINESERVER -u WINEARCH -u WINEDEBUG -u WINEDLLOVERRIDES \
  ctest --test-dir build/win32 -L release --output-on-failure || status=$?
echo "release tier (32-bit, emulated): $((SECONDS - started)) s"
exit "$status"
