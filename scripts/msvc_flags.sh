#!/usr/bin/env bash
# What a compiler with MSVC's command-line syntax is given: configures the
# 32-bit Windows build with clang-cl and reads the compile and link lines.
# Each C++ compile line must carry /W4, /permissive-, warnings as errors, the
# static runtime and SSE2 maths, and no option of GCC's; the link line must
# not ask for -static. MSVC's own headers and libraries are not here, so
# nothing is compiled: this checks the flags, not an MSVC build.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/need.sh
need clang-cl-14 clang-tools-14
need llvm-lib-14 llvm-14
need llvm-rc-14 llvm-14
build=out/msvc-flags
rm -rf "$build"
cmake -S . -B "$build" -DCMAKE_SYSTEM_NAME=Windows -DCMAKE_SYSTEM_PROCESSOR=x86 \
  -DCMAKE_CXX_COMPILER=clang-cl-14 -DCMAKE_CXX_COMPILER_TARGET=i686-pc-windows-msvc \
  -DCMAKE_TRY_COMPILE_TARGET_TYPE=STATIC_LIBRARY -DCMAKE_AR="$(command -v llvm-lib-14)" \
  -DCMAKE_RC_COMPILER=llvm-rc-14 -DCMAKE_LINKER=lld-link -DCMAKE_EXPORT_COMPILE_COMMANDS=ON \
  -DCMAKE_COMPILE_WARNING_AS_ERROR=ON -DBUILD_TESTING=OFF >"$build.log" 2>&1 ||
  { cat "$build.log"; exit 1; }

compiles=$(python3 -c 'import json, sys
for entry in json.load(open(sys.argv[1])):
    if entry["file"].endswith(".cpp"):
        print(entry["command"])' "$build/compile_commands.json")
link=$(cat "$build/CMakeFiles/biegacz.dir/link.txt")
problems=0
while read -r line; do
  for flag in /W4 /permissive- -WX -MT /arch:SSE2; do
    [[ " $line " == *" $flag "* ]] || { echo "no $flag in: $line"; problems=1; }
  done
  gcc_only=$(grep -oE ' -(W[a-z]|m[a-z]|f[a-z]|static)[^ ]*' <<<"$line" || true)
  [ -z "$gcc_only" ] || { echo "GCC's options${gcc_only//$'\n'/,} in: $line"; problems=1; }
done <<<"$compiles"
[[ " $link " != *" -static "* ]] || { echo "-static in the link line: $link"; problems=1; }
[ "$problems" = 0 ] || exit 1
echo "msvc flags: $(wc -l <<<"$compiles") compile lines with /W4 /permissive- -WX -MT /arch:SSE2, none of GCC's; no -static"
