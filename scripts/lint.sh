#!/usr/bin/env bash
# The C++ sources' layout against the committed .clang-format. clang-tidy and
# cppcheck run where CMake has a switch for them: on every compile of the
# `lint` preset (`cmake --workflow --preset lint`), findings as errors.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/need.sh
need clang-format clang-format
mapfile -t sources < <(git ls-files '*.cpp' '*.h' 2>/dev/null || find app runner tests -name '*.cpp' -o -name '*.h')
clang-format --dry-run --Werror "${sources[@]}"
echo "clang-format: clean (${#sources[@]} files)"
