#!/usr/bin/env bash
# Checks that the release files come out byte-identical from another build:
# the stripped exe, its debug file and (32-bit) the Windows archive of the
# build tree (build/win32, build/win64; brought up to date first, which is
# cheap after scripts/test.sh) against one clean build of the same sources
# in a temporary directory, at another path.
#   scripts/check-reproducible.sh [win32|win64 ...]   (default: both)
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
presets=("$@")
[[ ${#presets[@]} -gt 0 ]] || presets=(win32 win64)

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The files of a release, relative to the build tree.
release_files() {
  local dir=$1
  echo vexalune.exe
  echo vexalune.exe.debug
  (cd "$dir" && ls Vexalune-*-win32.zip 2>/dev/null) || true
}

status=0
for preset in "${presets[@]}"; do
  ours="$root/build/$preset"
  fresh="$work/$preset"
  [[ -f "$ours/CMakeCache.txt" ]] || cmake -S "$root" --preset "$preset" >/dev/null
  targets=(vexalune)
  [[ $preset == win32 ]] && targets+=(package)
  cmake --build "$ours" --target "${targets[@]}" >/dev/null
  cmake -S "$root" -B "$fresh" --preset "$preset" -DVEXALUNE_TESTS=OFF >/dev/null
  cmake --build "$fresh" --target "${targets[@]}" >/dev/null

  mapfile -t files < <(release_files "$ours")
  if [[ $preset == win32 && ${#files[@]} -ne 3 ]]; then
    echo "$preset: no archive in $ours"
    status=1
  fi
  for file in "${files[@]}"; do
    if [[ ! -f "$fresh/$file" ]]; then
      echo "$preset: $file: missing from the clean build"
      status=1
    elif cmp -s "$ours/$file" "$fresh/$file"; then
      echo "$preset: $file: identical ($(stat -c %s "$ours/$file") bytes, sha256 $(sha256sum < "$ours/$file" | cut -d' ' -f1))"
    else
      echo "$preset: $file: DIFFERENT ($(sha256sum < "$ours/$file" | cut -c1-16) vs $(sha256sum < "$fresh/$file" | cut -c1-16)); first differing bytes:"
      cmp -l "$ours/$file" "$fresh/$file" | head -5 || true
      status=1
    fi
  done
done
exit $status
