#!/usr/bin/env bash
# Builds the program twice from scratch for each target, in two different
# directories, and checks that the executables are byte-identical.
#   scripts/check-reproducible.sh [win32|win64 ...]   (default: both)
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
presets=("$@")
[[ ${#presets[@]} -gt 0 ]] || presets=(win32 win64)

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

status=0
for preset in "${presets[@]}"; do
  sums=()
  for attempt in first second; do
    dir="$work/$preset-$attempt"
    cmake -S "$root" -B "$dir" --preset "$preset" -DVEXALUNE_TESTS=OFF >/dev/null
    cmake --build "$dir" --target vexalune >/dev/null
    sums+=("$(sha256sum < "$dir/vexalune.exe" | cut -d' ' -f1)")
  done
  if [[ "${sums[0]}" == "${sums[1]}" ]]; then
    echo "$preset: identical (sha256 ${sums[0]})"
  else
    echo "$preset: DIFFERENT (${sums[0]} vs ${sums[1]})"
    cmp -l "$work/$preset-first/vexalune.exe" "$work/$preset-second/vexalune.exe" | head -5
    status=1
  fi
done
exit $status
