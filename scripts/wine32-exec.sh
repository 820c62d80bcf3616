#!/usr/bin/env bash
# Runs a Windows program of the 32-bit build under the emulated 32-bit Wine:
# CTest's emulator for build/win32. Exits with the program's exit code.
#
# When the run fails, one line says whether the program or the emulator
# failed (see wine32_triage.py). A failure of the program is never retried.
# Only a run spoilt by the emulator in another Wine process, with no fault
# in the program's own, is run once more, and says so. A process the
# emulator has wedged (trapping over and over, which hangs whoever waits for
# it) ends the run at once instead of at CTest's timeout.
set -uo pipefail
scripts=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source "$scripts/wine32-env.sh"
vexalune_ensure_prefix || exit 1

# Each line names its process, and the log names each process's program.
export WINEDEBUG="$WINEDEBUG,+pid,trace+loaddll"
log=$(mktemp /tmp/vexalune-wine32.XXXXXX)
trap 'rm -f "$log"' EXIT

run_once() {
  : > "$log"
  # The log gets everything; the caller's stderr all but the DLL list.
  vexalune_wine "$@" 2> >(tee -a "$log" | grep --line-buffered -v ':trace:loaddll:' >&2) &
  local program=$! wedged
  while kill -0 "$program" 2>/dev/null; do
    sleep 2
    if wedged=$(/usr/bin/python3 "$scripts/wine32_triage.py" --wedged "$log" "$1"); then
      echo "wine32: $wedged keeps trapping under the emulator; ending the run" >&2
      "$WINESERVER" -k
      break
    fi
  done
  wait "$program"
}

for attempt in 1 2; do
  run_once "$@"
  status=$?
  [[ $status -eq 0 ]] && exit 0
  /usr/bin/python3 "$scripts/wine32_triage.py" "$log" "$1" "$status" >&2
  verdict=$?
  [[ $verdict -eq 3 && $attempt -eq 1 ]] || exit "$status"
  echo "wine32: running it once more, since the emulator failed outside the program" >&2
  "$WINESERVER" -w
done
exit "$status"
