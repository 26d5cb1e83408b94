#!/usr/bin/env bash
# What one run of the build users run costs: callgrind's instruction count for
# the example's answers (repeatable on a busy machine, unlike a wall time),
# and, for a 64 MiB one-word name, the best wall time of five runs beside a
# floor measured in the same run on the same bytes (`cat` to /dev/null), and
# the peak resident memory. Prints figures; asserts nothing.
set -euo pipefail
cd "$(dirname "$0")/.."
[ -x /usr/bin/time ] && command -v valgrind >/dev/null ||
  { echo "bench.sh needs valgrind and GNU time (Debian: apt-get install valgrind time)" >&2; exit 1; }
scripts/run.sh </dev/null >/dev/null # builds what users run
name=$(mktemp) # a one-word name, then an age and a speed, removed on exit
trap 'rm -f "$name"' EXIT
{ head -c $((64 << 20)) /dev/zero | tr '\0' a; printf ' 20 5\n'; } >"$name"
valgrind --tool=callgrind --callgrind-out-file=/dev/null build/biegacz <tests/transcripts/example.in \
  2>&1 >/dev/null | sed -n 's/.*Collected : /instructions, example run: /p'
# The best of five wall times, in seconds, of a command reading the name.
best_of_5() {
  local TIMEFORMAT=%3R
  for _ in 1 2 3 4 5; do { time "$@" <"$name" >/dev/null; } 2>&1; done | sort -n | head -1
}
floor=$(best_of_5 cat) program=$(best_of_5 build/biegacz)
peak=$(/usr/bin/time -f %M build/biegacz <"$name" 2>&1 >/dev/null)
echo "64 MiB name: $program s wall, best of 5; floor (cat of the same bytes) $floor s"
echo "64 MiB name: peak resident $((peak / 1024)) MiB"
