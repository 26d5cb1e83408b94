#!/usr/bin/env bash
# AFL++ on the whole program's standard input, with AddressSanitizer and
# UndefinedBehaviorSanitizer, seeded with the transcripts' inputs, for
# SECONDS (120). A crash, a sanitizer's report (exit status 1) or a hang is a
# finding; prints the counts and fails on any.   usage: scripts/fuzz.sh [SECONDS]
set -euo pipefail
cd "$(dirname "$0")/.."
command -v afl-clang-fast++ >/dev/null ||
  { echo "fuzz.sh needs AFL++ (Debian: apt-get install afl++ libclang-rt-14-dev)" >&2; exit 1; }
build=out/fuzz
CXX=afl-clang-fast++ cmake -S . -B $build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBIEGACZ_SANITIZE=ON >/dev/null
AFL_QUIET=1 cmake --build $build --target biegacz >/dev/null
# An earlier run's findings, crash inputs among them, are kept: moved aside, numbered.
[ ! -e $build/findings ] || mv --backup=numbered -T $build/findings $build/findings.earlier
rm -rf $build/seeds && mkdir $build/seeds
find tests/transcripts -name '*.in' -size +0 -exec cp {} $build/seeds/ \;
export AFL_NO_UI=1 AFL_SKIP_CPUFREQ=1 AFL_I_DONT_CARE_ABOUT_MISSING_CRASHES=1 AFL_NO_AFFINITY=1 AFL_CRASH_EXITCODE=1
afl-fuzz -i $build/seeds -o $build/findings -m none -t 1000 -V "${1:-120}" -- $build/biegacz \
  >$build/afl.log 2>&1 || { tail -20 $build/afl.log; exit 1; }
stat_of() { sed -n "s/^$1 *: //p" $build/findings/default/fuzzer_stats; }
crashes=$(stat_of saved_crashes) hangs=$(stat_of saved_hangs)
echo "fuzz: $(stat_of execs_done) executions in ${1:-120} s, $crashes crashes, $hangs hangs"
[ "$crashes" = 0 ] && [ "$hangs" = 0 ]
