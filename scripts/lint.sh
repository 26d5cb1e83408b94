#!/usr/bin/env bash
# Static checks, all of which must be clean: clang-format against the
# committed .clang-format, clang-tidy with the committed .clang-tidy, cppcheck.
# A clean check prints its verdict alone; a finding is printed in full.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/need.sh
need clang-format clang-format
need clang-tidy clang-tidy
need cppcheck cppcheck
sources=(runner/biegacz.h runner/biegacz.cpp app/main.cpp tests/biegacz_test.cpp)

# Runs a command, keeping what it says (clang-tidy counts the warnings it
# filtered out of system headers, for one) unless it fails.
quietly() {
  local said
  if ! said=$("$@" 2>&1); then
    printf '%s\n' "$said"
    echo "${0##*/}: '$1' failed, as above" >&2
    exit 1
  fi
}

quietly clang-format --dry-run --Werror "${sources[@]}"
echo "clang-format: clean"
quietly cmake --preset release # for compile_commands.json
quietly clang-tidy --quiet -p out/release runner/biegacz.cpp app/main.cpp
echo "clang-tidy: clean"
quietly cppcheck --enable=warning,performance,portability --error-exitcode=1 --inline-suppr \
  --quiet -I runner runner app
echo "cppcheck: clean"
