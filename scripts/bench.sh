#!/usr/bin/env bash
# What one run costs, for the default build (`cmake -S . -B build`):
# instructions for the example dialogue, counted by callgrind (repeatable on a
# busy machine, unlike a wall time), and time and peak memory for a 64 MiB
# one-word name. Prints figures; it is not a test and asserts nothing.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BUILD:-build}
cmake -S . -B "$build" >/dev/null
cmake --build "$build" --target biegacz >/dev/null
exe=$build/biegacz
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

printf 'Ala\n20\n5\n' >"$tmp/example"
valgrind --tool=callgrind --callgrind-out-file=/dev/null "$exe" <"$tmp/example" \
  2>"$tmp/callgrind" >/dev/null
instructions=$(sed -n 's/.*Collected : //p' "$tmp/callgrind")
echo "instructions, example run (Ala 20 5): $instructions"

size=$((64 << 20))
{ head -c "$size" /dev/zero | tr '\0' a; printf ' 20 5\n'; } >"$tmp/name"
/usr/bin/time -f '%e %M' -o "$tmp/time" "$exe" <"$tmp/name" >/dev/null
read -r seconds peak_kib <"$tmp/time"
awk -v s="$seconds" -v k="$peak_kib" -v n="$size" 'BEGIN {
  printf "64 MiB name: %.2f s wall, %.0f MB/s of name\n", s, (s > 0 ? n / 1e6 / s : 0)
  printf "64 MiB name: peak resident %.1f MiB, %.2f times the name\n", k / 1024, k * 1024 / n
}'
