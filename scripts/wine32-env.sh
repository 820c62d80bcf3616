# Sourced: the environment in which the 32-bit (release) build runs, under
# Debian's i386 Wine emulated by qemu-i386-static, with a 32-bit prefix kept
# in the build tree (created on first use, 15-25 s). The same names as
# wine-env.sh, so anything that runs one Wine can run the other.
#   VEXALUNE_BUILD       build tree (default: build/win32 of this checkout)
#   WINEPREFIX           may be set beforehand to use another 32-bit prefix
#   VEXALUNE_WINE32_ROOT the i386 root made by scripts/wine32-setup.sh
#                        (default: its cache on this machine)

_vexalune_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
export VEXALUNE_WINE32_ROOT=${VEXALUNE_WINE32_ROOT:-${VEXALUNE_WINE32_CACHE:-/var/cache/vexalune/wine32}/root}
export VEXALUNE_BUILD=${VEXALUNE_BUILD:-$_vexalune_root/build/win32}
export WINEPREFIX=${WINEPREFIX:-$VEXALUNE_BUILD/wineprefix}
# qemu finds the guest's libraries (and its ld.so.cache) under this root.
export QEMU_LD_PREFIX=$VEXALUNE_WINE32_ROOT
export WINELOADER=$VEXALUNE_WINE32_ROOT/usr/lib/wine/wine
export WINESERVER=$VEXALUNE_WINE32_ROOT/usr/lib/wine/wineserver32
export WINEARCH=win32
# Only Wine's own reports of faults it cannot handle (err:seh) are kept:
# they tell an emulator fault from a program fault.
export WINEDEBUG=${WINEDEBUG:--all,err+seh}
# Besides what wine-env.sh turns off: qemu hands Wine a faulting signal
# context with trap number -1, which now and then crashes the background
# winedevice.exe; no test needs it.
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-winedbg.exe=d;mscoree=d;mshtml=d;winemenubuilder.exe=d;winedevice.exe=d}

# Runs a command under Wine's environment with code page 932, as wine-env.sh.
vexalune_wine() {
  LC_ALL=ja_JP.UTF-8 "$WINELOADER" "$@"
}

# Made aside and moved into place whole: the emulator can wedge a Wine
# process while the prefix is made, and a half-made prefix must not pass for
# one. The bound is for a loaded machine (15-25 s on a quiet one).
vexalune_ensure_prefix() {
  if [[ ! -x $WINELOADER ]]; then
    echo "vexalune: no 32-bit Wine at $VEXALUNE_WINE32_ROOT; run scripts/wine32-setup.sh" >&2
    return 1
  fi
  [[ -f "$WINEPREFIX/system.reg" ]] && return 0
  local fresh="$WINEPREFIX.new-$$"
  rm -rf "$fresh" "$WINEPREFIX"
  mkdir -p "$fresh"
  WINEPREFIX=$fresh LC_ALL=ja_JP.UTF-8 DISPLAY= timeout 600 "$WINELOADER" wineboot -i >/dev/null 2>&1
  # A helper left hanging keeps the wineserver up; ending it writes the
  # registry all the same.
  WINEPREFIX=$fresh timeout 120 "$WINESERVER" -w || WINEPREFIX=$fresh "$WINESERVER" -k 2>/dev/null
  if [[ ! -f $fresh/system.reg ]]; then
    rm -rf "$fresh"
    echo "vexalune: making the 32-bit prefix $WINEPREFIX failed" >&2
    return 1
  fi
  mv -T "$fresh" "$WINEPREFIX"
}
