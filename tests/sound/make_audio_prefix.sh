#!/usr/bin/env bash
# Makes DEST a Wine prefix for the sound tests: a copy of the build's prefix
# (the one scripts/wine-env.sh names) with HKCU\Software\Wine\Drivers "Audio"
# set as SETTING says (ENV_SCRIPT: the Wine environment, default
# scripts/wine-env.sh):
#   none  Audio = ""      Wine loads no audio driver at all
#   alsa  Audio = "alsa"  only the ALSA driver, whatever else is installed
# A copy, because the setting would otherwise reach every test sharing the
# build's prefix. Made once per build tree; the stamp tells what for.
set -euo pipefail

dest=$1
setting=$2
case "$setting" in
  none) audio= ;;
  alsa) audio=alsa ;;
  *) echo "usage: $0 DEST none|alsa [ENV_SCRIPT]" >&2; exit 2 ;;
esac

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
source "${3:-$root/scripts/wine-env.sh}"

stamp="$dest/vexalune-audio-setting"
if [[ -f "$stamp" && "$(cat "$stamp")" == "$setting" ]]; then
  exit 0
fi

vexalune_ensure_prefix
rm -rf "$dest" "$dest.tmp"
cp -a --reflink=auto "$WINEPREFIX" "$dest.tmp"
# The copy gets a wineserver of its own; wait for it, so that the registry
# is on disk before the copy is put in place.
WINEPREFIX="$dest.tmp" vexalune_wine reg add 'HKCU\Software\Wine\Drivers' /v Audio /t REG_SZ /d "$audio" /f >/dev/null
WINEPREFIX="$dest.tmp" "$WINESERVER" -w
echo "$setting" > "$dest.tmp/vexalune-audio-setting"
mv "$dest.tmp" "$dest"
