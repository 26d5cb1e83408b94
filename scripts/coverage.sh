#!/usr/bin/env bash
# Line and branch coverage of app/ and runner/ by the whole test suite. The
# standard library's exception paths are not the program's own branches.
# Fails below full line and branch coverage.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/need.sh
need gcovr gcovr
need gcov gcc
rm -rf out/coverage
cmake --workflow --preset coverage >/dev/null
# Searches this build folder alone: a wine prefix elsewhere under out/ links
# to / and would lead gcovr over the whole file system.
gcovr --root . --filter 'app/' --filter 'runner/' --object-directory out/coverage \
  --exclude-throw-branches --exclude-unreachable-branches --txt --branches --print-summary \
  --fail-under-line 100 --fail-under-branch 100 out/coverage
