#!/usr/bin/env bash
# Static checks, all of which must be clean: clang-format against the
# committed .clang-format, clang-tidy with the committed .clang-tidy, cppcheck.
set -euo pipefail
cd "$(dirname "$0")/.."
sources=(runner/biegacz.h runner/biegacz.cpp app/main.cpp tests/biegacz_test.cpp)

clang-format --dry-run --Werror "${sources[@]}"
echo "clang-format: clean"

cmake --preset release >/dev/null # for compile_commands.json
clang-tidy --quiet -p out/release runner/biegacz.cpp app/main.cpp
echo "clang-tidy: clean"

cppcheck --enable=warning,performance,portability --error-exitcode=1 --inline-suppr \
  --quiet -I runner runner app
echo "cppcheck: clean"
