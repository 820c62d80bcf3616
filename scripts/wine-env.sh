# Sourced: the environment in which the 64-bit build runs under Wine, with a
# prefix kept in the build tree (created on first use, ~7 s).
#   VEXALUNE_BUILD   build tree (default: build/win64 of this checkout)
#   WINEPREFIX       may be set beforehand to use another prefix
#   VEXALUNE_WINE_CSMT
#                    "off" (the default here): Direct3D runs on the calling
#                    thread; "default": as Wine does by default, on a thread
#                    of its own

_vexalune_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
export VEXALUNE_BUILD=${VEXALUNE_BUILD:-$_vexalune_root/build/win64}
export WINEPREFIX=${WINEPREFIX:-$VEXALUNE_BUILD/wineprefix}
export WINELOADER=/usr/lib/wine/wine64
export WINESERVER=/usr/lib/wine/wineserver
export WINEARCH=win64
# Debug output would drown the test logs; a crash must end the process
# instead of waiting in the debugger.
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-winedbg.exe=d;mscoree=d;mshtml=d}

# By default wined3d runs Direct3D on a command-stream thread that spins
# while it waits for work: about one core at 30 frames per second, whatever
# the frame holds. The prefixes made here turn it off (Wine's own setting,
# HKCU\Software\Wine\Direct3D "csmt" = 0), so Direct3D runs on the thread
# that calls it. Asking for Wine's default sets it back for this run only,
# through Wine's environment override, which wins over the prefix.
export VEXALUNE_WINE_CSMT=${VEXALUNE_WINE_CSMT:-off}
case "$VEXALUNE_WINE_CSMT" in
  off) ;;
  default)
    # A csmt already given in WINE_D3D_CONFIG is the user's choice; keep it.
    [[ ",${WINE_D3D_CONFIG:-}" == *,csmt=* ]] ||
      export WINE_D3D_CONFIG="csmt=1${WINE_D3D_CONFIG:+,$WINE_D3D_CONFIG}" ;;
  *) echo "VEXALUNE_WINE_CSMT must be off or default, not '$VEXALUNE_WINE_CSMT'" >&2; return 2 ;;
esac

# Runs a command under Wine's environment with code page 932. The locale is
# given to Wine's processes only: glibc has no ja_JP locale installed, and
# shells would complain about it.
vexalune_wine() {
  LC_ALL=ja_JP.UTF-8 "$WINELOADER" "$@"
}

# Whether the prefix's registry, as saved on disk, has csmt off. Reading the
# file costs milliseconds, against a second or more for `wine reg query`.
_vexalune_prefix_csmt_off() {
  awk '/^\[/ { in_key = ($0 ~ /^\[Software\\\\Wine\\\\Direct3D\]/) }
       in_key && $0 == "\"csmt\"=dword:00000000" { found = 1 }
       END { exit !found }' "$WINEPREFIX/user.reg" 2>/dev/null
}

_vexalune_set_prefix_csmt_off() {
  DISPLAY= vexalune_wine reg add 'HKCU\Software\Wine\Direct3D' /v csmt /t REG_DWORD /d 0 /f >/dev/null 2>&1
  "$WINESERVER" -w
}

# Creates the prefix if needed, and gives csmt off to the prefixes this
# project makes: a new one, or one in the build tree made before the setting
# existed. A prefix of the user's own elsewhere is left as it is.
vexalune_ensure_prefix() {
  if [[ ! -f "$WINEPREFIX/system.reg" ]]; then
    mkdir -p "$WINEPREFIX"
    LC_ALL=ja_JP.UTF-8 DISPLAY= "$WINELOADER" wineboot -i >/dev/null 2>&1
    "$WINESERVER" -w
    _vexalune_set_prefix_csmt_off
  elif [[ "$WINEPREFIX" == "$VEXALUNE_BUILD"/* ]] && ! _vexalune_prefix_csmt_off; then
    _vexalune_set_prefix_csmt_off
  fi
}
