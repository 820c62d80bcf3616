#!/usr/bin/env bash
# Makes the 32-bit Wine that runs the release build here, under qemu's user
# mode emulation: these machines cannot execute 32-bit code natively.
#
# Once per machine, in a cache outside the clone (default
# /var/cache/vexalune/wine32, or $VEXALUNE_WINE32_CACHE), Debian's i386 Wine
# and the libraries it loads are downloaded with an apt of their own and
# unpacked into a root of their own, so the host's package database never
# sees them (installing wine32:i386 on the host would upgrade ~90 host
# packages). A stamp written last marks a finished root; without it the root
# is made again. A lock keeps two runs from making it at the same time.
#
# On every call (it does not survive a reboot) the kernel is told to run
# i386 ELF programs with qemu-i386-static.
#
#   scripts/wine32-setup.sh        prints the root's path on its last line
set -euo pipefail
scripts=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

cache=${VEXALUNE_WINE32_CACHE:-/var/cache/vexalune/wine32}
guest=$cache/root
stamp=$cache/complete
# Bump when the recipe below changes, so that older roots are made again.
recipe=1

# Wine, its preloader (without it each process spends ~80 s in the emulator
# before it reaches the wineserver), OpenGL through Mesa, and the X client
# libraries Wine opens by name rather than links.
packages=(
  wine32 wine32-preloader libgl1 libgl1-mesa-dri libglx-mesa0
  libxrender1 libxrandr2 libxi6 libxcursor1 libxcomposite1 libxinerama1 libxfixes3 libxxf86vm1
)
# Not unpacked: with them the guest would see its own (empty) font set and
# configuration instead of the host's, which has the Japanese fonts.
skipped=(fonts-dejavu-core fontconfig-config debconf iso-codes)

binfmt=/proc/sys/fs/binfmt_misc
qemu=/usr/bin/qemu-i386-static
# i386 ELF executables and shared objects (e_type 2 or 3, e_machine 3).
elf_magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
elf_mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'

sudo=()
[[ $(id -u) -eq 0 ]] || sudo=(sudo)

register_emulator() {
  [[ -x $qemu ]] || { echo "wine32-setup: $qemu missing (scripts/deps.sh installs qemu-user-static)" >&2; exit 1; }
  [[ -e $binfmt/register ]] || "${sudo[@]}" mount -t binfmt_misc binfmt_misc "$binfmt"
  if [[ -e $binfmt/qemu-i386 ]]; then
    grep -qx enabled "$binfmt/qemu-i386" || { echo 1 | "${sudo[@]}" tee "$binfmt/qemu-i386" >/dev/null; }
    return
  fi
  # F: the kernel opens the interpreter now, so it also works inside the
  # guest root; C: credentials from the program, not the interpreter.
  printf ':qemu-i386:M::%s:%s:%s:FC' "$elf_magic" "$elf_mask" "$qemu" \
    | "${sudo[@]}" tee "$binfmt/register" >/dev/null
}

root_is_complete() {
  [[ -f $stamp && $(head -n1 "$stamp") == "recipe $recipe" ]] \
    && [[ -x $guest/usr/lib/wine/wine && -f $guest/etc/ld.so.cache && -f $guest/usr/lib/wine/wine-preloader ]]
}

# apt with a state, lists and archive of its own, for i386 only.
private_apt() {
  local state=$cache/apt
  mkdir -p "$state/lists/partial" "$state/archives/partial" "$state/dpkg"
  touch "$state/dpkg/status"
  apt-get -q \
    -o APT::Architecture=i386 -o APT::Architectures::=i386 \
    -o Dir::State="$state" -o Dir::State::Lists="$state/lists" \
    -o Dir::State::status="$state/dpkg/status" \
    -o Dir::Cache="$state" -o Dir::Cache::archives="$state/archives" \
    -o Dir::Cache::pkgcache= -o Dir::Cache::srcpkgcache= \
    "$@"
}

download_packages() {
  private_apt update >&2
  private_apt install -y --download-only --no-install-recommends "${packages[@]}" >&2
}

unpack_packages() {
  local deb name count=0
  rm -rf "$guest"
  mkdir -p "$guest"
  for deb in "$cache"/apt/archives/*.deb; do
    name=$(basename "$deb"); name=${name%%_*}
    [[ " ${skipped[*]} " == *" $name "* ]] && continue
    dpkg -x "$deb" "$guest"
    count=$((count + 1))
  done
  echo "wine32-setup: unpacked $count packages" >&2
}

# What libwine's install script would have done: Wine's user32 loads zlib1
# as a builtin DLL, and Wine only takes a DLL as builtin when it carries
# this tag at offset 64 of the file.
tag_zlib_builtin() {
  local mingw=$guest/usr/i686-w64-mingw32/lib/zlib1.dll dir out found=0
  [[ -f $mingw ]] || { echo "wine32-setup: $mingw missing" >&2; exit 1; }
  for dir in "$guest"/usr/lib/i386-linux-gnu/wine/i386-windows; do
    out=$dir/zlib1.dll
    { head -c 64 "$mingw"; printf 'Wine builtin DLL'; head -c 16 /dev/zero; tail -c +97 "$mingw"; } > "$out"
    found=1
  done
  [[ $found -eq 1 ]] || { echo "wine32-setup: no i386-windows directory in the root" >&2; exit 1; }
}

# The guest's loader must read a library cache of the guest's own: with the
# host's it mixes host and guest glibc, and Wine then misses FreeType.
make_library_cache() {
  cat > "$guest/etc/ld.so.conf" <<'EOF'
include /etc/ld.so.conf.d/*.conf
/lib/i386-linux-gnu
/usr/lib/i386-linux-gnu
EOF
  ldconfig -r "$guest"
}

# Checks the result end to end: the emulator runs the guest's Wine.
check_wine_runs() {
  local version
  version=$(QEMU_LD_PREFIX=$guest "$guest/usr/lib/wine/wine" --version)
  echo "wine32-setup: $version (i386, emulated)" >&2
}

make_root() {
  local started=$SECONDS
  echo "wine32-setup: making the 32-bit Wine root in $guest (once per machine)" >&2
  rm -f "$stamp"
  download_packages
  unpack_packages
  tag_zlib_builtin
  make_library_cache
  /usr/bin/python3 "$scripts/wine32-preloader-move.py" "$guest/usr/lib/wine/wine-preloader" >&2
  check_wine_runs
  printf 'recipe %s\nmade %s in %d s\n' "$recipe" "$(date -u +%FT%TZ)" $((SECONDS - started)) > "$stamp"
  echo "wine32-setup: done in $((SECONDS - started)) s" >&2
}

register_emulator
if ! root_is_complete; then
  "${sudo[@]}" mkdir -p "$cache"
  [[ -w $cache ]] || { echo "wine32-setup: $cache is not writable; run as root" >&2; exit 1; }
  exec 9> "$cache/lock"
  flock 9
  root_is_complete || make_root
  exec 9>&-
fi
echo "$guest"
