#!/usr/bin/env bash
# Builds the optimised program when it is out of date, quietly (what a failed
# build said goes to standard error), then runs it on this shell's standard
# input and output, so it works typed, piped or redirected alike.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
said=$({ cmake -S "$root" -B "$root/build" &&
  cmake --build "$root/build" --target biegacz --parallel; } 2>&1 </dev/null) || {
  printf '%s\n' "$said" >&2
  exit 1
}
exec "$root/build/biegacz"
