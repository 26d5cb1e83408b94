#!/usr/bin/env bash
# What one run costs, for the build users run (`scripts/run.sh` makes it):
# instructions for the example dialogue, counted by callgrind (repeatable on a
# busy machine, unlike a wall time), and time and peak memory for a 64 MiB
# one-word name. A wall time says little on its own from one machine to the
# next, so each is printed beside a floor measured in the same run on the
# same bytes: `cat` of the input to /dev/null. Prints figures; it is not a
# test and asserts nothing.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/need.sh
need valgrind valgrind
need /usr/bin/time time
build=${BUILD:-build}
cmake -S . -B "$build" -DBUILD_TESTING=OFF >/dev/null
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

# Best wall time of five runs of a command on the name as standard input, in
# seconds.
best_of_5() {
  local best="" start end
  for _ in 1 2 3 4 5; do
    start=$EPOCHREALTIME
    "$@" <"$tmp/name" >/dev/null
    end=$EPOCHREALTIME
    best=$(awk -v s="$start" -v e="$end" -v b="$best" 'BEGIN {
      t = e - s; print (b == "" || t < b) ? t : b }')
  done
  echo "$best"
}
floor=$(best_of_5 cat)
program=$(best_of_5 "$exe")
/usr/bin/time -f '%M' -o "$tmp/peak" "$exe" <"$tmp/name" >/dev/null
awk -v p="$program" -v f="$floor" -v k="$(cat "$tmp/peak")" -v n="$size" 'BEGIN {
  printf "64 MiB name: %.3f s wall, best of 5; floor (cat of the same bytes) %.3f s; %.0f times the floor\n", p, f, p / f
  printf "64 MiB name: peak resident %.1f MiB, %.2f times the name\n", k / 1024, k * 1024 / n
}'
