#!/usr/bin/env bash
# Builds the program when it is out of date, then runs it on this shell's own
# standard input and output, so it works typed, piped or redirected alike.
# The build is the optimised one users run, without the tests, so it needs
# nothing but CMake, make and a C++ compiler.
# The build reads no input and prints nothing unless it fails; then what it
# said goes to standard error.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build

build_program() { cmake --build "$build" --target biegacz --parallel; }
# Where build/ cannot build the program (it is missing, or a failed
# `cmake -S . -B build` left it half-made, say for want of GoogleTest), it is
# configured again without the tests. Only the last attempt's words are shown.
said=$(build_program 2>&1 </dev/null) ||
  said=$({ cmake -S "$root" -B "$build" -DBUILD_TESTING=OFF && build_program; } 2>&1 </dev/null) || {
  printf '%s\n' "$said" >&2
  exit 1
}
exec "$build/biegacz"
