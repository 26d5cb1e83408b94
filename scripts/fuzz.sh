#!/usr/bin/env bash
# Coverage-guided fuzzing of the whole program through its standard input,
# with AddressSanitizer and UndefinedBehaviorSanitizer on, seeded with the
# transcripts' inputs. A crash, a sanitizer report, a hang or an exit status
# of 1 (a sanitizer's) is a finding; prints the executions and the findings
# and exits non-zero if there were any.
#   usage: scripts/fuzz.sh [SECONDS]   (default 120)
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/need.sh
need afl-fuzz afl++
need afl-clang-fast++ afl++
seconds=${1:-120}
build=out/fuzz
work=$build/findings

CXX=afl-clang-fast++ cmake -S . -B $build -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DBIEGACZ_SANITIZE=ON -DBUILD_TESTING=OFF >/dev/null
AFL_QUIET=1 cmake --build $build --target biegacz >/dev/null

seeds=$build/seeds
rm -rf "$seeds" "$work"
mkdir -p "$seeds"
for input in tests/transcripts/*.in; do
  [ -s "$input" ] && cp "$input" "$seeds/"
done

export AFL_NO_UI=1 AFL_SKIP_CPUFREQ=1 AFL_I_DONT_CARE_ABOUT_MISSING_CRASHES=1
export AFL_NO_AFFINITY=1 AFL_CRASH_EXITCODE=1
afl-fuzz -i "$seeds" -o "$work" -m none -t 1000 -V "$seconds" -- $build/biegacz \
  >"$build/afl.log" 2>&1 || { tail -20 "$build/afl.log"; exit 1; }

stat() { sed -n "s/^$1 *: //p" "$work/default/fuzzer_stats"; }
crashes=$(stat saved_crashes)
hangs=$(stat saved_hangs)
echo "fuzz: $(stat execs_done) executions in ${seconds} s, $crashes crashes, $hangs hangs"
[ "$crashes" = 0 ] && [ "$hangs" = 0 ]
