#!/usr/bin/env bash
# Whole runs under valgrind memcheck: no errors, nothing leaked. Uses the
# dynamically linked debug build, where memcheck can watch the allocator.
# The buffers of the standard streams stay reachable to the end, as the
# streams themselves do: that is not a leak, and not counted as one.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/need.sh
need valgrind valgrind
cmake --preset debug >/dev/null
cmake --build --preset debug --target biegacz >/dev/null
for input in tests/transcripts/example.in tests/transcripts/two_word_name.in; do
  valgrind --quiet --error-exitcode=1 --leak-check=full --show-leak-kinds=definite,indirect,possible \
    --errors-for-leak-kinds=definite,indirect,possible out/debug/biegacz <"$input" >/dev/null
done
echo "memcheck: clean"
