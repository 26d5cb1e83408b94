#!/usr/bin/env bash
# Builds the program when it is out of date, then runs it on this shell's own
# standard input and output, so it works typed, piped or redirected alike.
# The build is the optimised one users run, without the tests, so it needs
# nothing but CMake, make and a C++ compiler.
# The build reads no input and prints nothing unless it fails; then all it
# said goes to standard error.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build
if ! said=$({
  { [ -f "$build/CMakeCache.txt" ] || cmake -S "$root" -B "$build" -DBUILD_TESTING=OFF; } &&
    cmake --build "$build" --target biegacz --parallel
} 2>&1 </dev/null); then
  printf '%s\n' "$said" >&2
  exit 1
fi
exec "$build/biegacz"
