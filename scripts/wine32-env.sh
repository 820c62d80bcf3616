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

vexalune_ensure_prefix() {
  if [[ ! -x $WINELOADER ]]; then
    echo "vexalune: no 32-bit Wine at $VEXALUNE_WINE32_ROOT; run scripts/wine32-setup.sh" >&2
    return 1
  fi
  if [[ ! -f "$WINEPREFIX/system.reg" ]]; then
    mkdir -p "$WINEPREFIX"
    LC_ALL=ja_JP.UTF-8 DISPLAY= "$WINELOADER" wineboot -i >/dev/null 2>&1
    "$WINESERVER" -w
  fi
}
