# Sourced: the environment in which the 64-bit build runs under Wine, with a
# prefix kept in the build tree (created on first use, ~7 s).
#   VEXALUNE_BUILD   build tree (default: build/win64 of this checkout)
#   WINEPREFIX       may be set beforehand to use another prefix

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

# Runs a command under Wine's environment with code page 932. The locale is
# given to Wine's processes only: glibc has no ja_JP locale installed, and
# shells would complain about it.
vexalune_wine() {
  LC_ALL=ja_JP.UTF-8 "$WINELOADER" "$@"
}

vexalune_ensure_prefix() {
  if [[ ! -f "$WINEPREFIX/system.reg" ]]; then
    mkdir -p "$WINEPREFIX"
    LC_ALL=ja_JP.UTF-8 DISPLAY= "$WINELOADER" wineboot -i >/dev/null 2>&1
    "$_vexalune_root/scripts/wineserver-wait.sh"
  fi
}
