#!/usr/bin/env bash
# Builds the optimised program users run, when it is out of date, then runs it
# on this shell's own standard input and output, so it works typed, piped or
# redirected alike. The build reads no input and prints nothing unless it
# fails; then what it said goes to standard error.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
said=$({ cmake -S "$root" -B "$root/build" &&
  cmake --build "$root/build" --target biegacz --parallel; } 2>&1 </dev/null) || {
  printf '%s\n' "$said" >&2
  exit 1
}
exec "$root/build/biegacz"
