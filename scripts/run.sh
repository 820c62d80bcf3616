#!/usr/bin/env bash
# Builds the 64-bit program and runs it under Wine.
#
# With $DISPLAY set, the window opens there, on the user's own desktop,
# which is left as it is, and the script waits until the program ends.
# Without a display, the program runs on a private virtual desktop (Xvfb
# and openbox, so the window gets its caption, icon and borders): once its
# window has been up a few seconds, with the pointer over the client area
# so the text shows, a PNG of the window with its frame is saved and its
# path printed, and the window is closed with Alt+F4 as a user would.
# Either way the program's exit code is printed and is the script's own.
#
#   scripts/run.sh [--screenshot FILE.png]   (the PNG only without a display)
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"

screenshot=()
while [[ $# -gt 0 ]]; do
  case "$1" in
    --screenshot) screenshot=(--screenshot "$2"); shift 2 ;;
    *) echo "usage: $0 [--screenshot FILE.png]" >&2; exit 2 ;;
  esac
done

scripts/deps.sh
cmake --preset win64 >/dev/null
cmake --build build/win64 --target vexalune

source scripts/wine-env.sh
vexalune_ensure_prefix
exe="$VEXALUNE_BUILD/vexalune.exe"

status=0
if [[ -n "${DISPLAY:-}" ]]; then
  vexalune_wine "$exe" || status=$?
  echo "exit code: $status"
else
  # One implementation of the headless run, shared with the end-to-end tests.
  /usr/bin/python3 tests/support/desktop.py run-headless --exe "$exe" "${screenshot[@]}" || status=$?
fi
exit "$status"
