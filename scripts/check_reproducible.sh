#!/usr/bin/env bash
# Builds the last commit's programs and packages a second time, in a fresh
# clone at another depth, with another umask and time zone, and compares them
# byte for byte with those the workflows of `release`, `windows` and
# `windows-x64` left in out/. Prints a SHA-256 a file and names each file
# that differs. Uncommitted changes in the first build differ, as they should.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/need.sh
need git git
presets=(release windows windows-x64)

files=()
for preset in "${presets[@]}"; do
  program=out/$preset/biegacz$([ "$preset" = release ] || echo .exe)
  package=$(ls out/"$preset"/biegacz-*.{tar.gz,zip} 2>/dev/null || true)
  if [ ! -f "$program" ] || [ -z "$package" ]; then
    echo "${0##*/}: nothing to compare in out/$preset: run \`cmake --workflow --preset $preset\` first" >&2
    exit 1
  fi
  files+=("$program" "$package")
done

again=$(mktemp -d)
trap 'rm -rf "$again"' EXIT
clone=$again/a/b/biegacz
git clone --quiet --no-hardlinks . "$clone"
(
  cd "$clone"
  umask 0002
  export TZ=Pacific/Auckland
  for preset in "${presets[@]}"; do
    cmake --preset "$preset" -DBUILD_TESTING=OFF >/dev/null
    cmake --build --preset "$preset" >/dev/null
    cpack --preset "$preset" >/dev/null
  done
)

differ=()
for file in "${files[@]}"; do
  first=$(sha256sum <"$file" | cut -d' ' -f1)
  second=$(sha256sum <"$clone/$file" | cut -d' ' -f1)
  if [ "$first" = "$second" ]; then
    echo "$first  $file"
  else
    echo "differs: $file ($first, rebuilt $second)"
    differ+=("$file")
  fi
done
if [ ${#differ[@]} -gt 0 ]; then
  echo "${0##*/}: not reproducible: ${differ[*]}" >&2
  exit 1
fi
echo "reproducible: ${#files[@]} files, the same bytes from a second build"
