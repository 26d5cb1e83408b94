#!/usr/bin/env bash
# What a compiler with MSVC's syntax is given, read from the clang-cl preset's
# configure: each compile line must carry /W4, /permissive-, warnings as
# errors, the static runtime and SSE2 maths and no option of GCC's, and the
# link line must not ask for -static. MSVC's headers and libraries are not
# here, so nothing is compiled: this checks flags, not an MSVC build.
set -euo pipefail
cd "$(dirname "$0")/.."
command -v clang-cl-14 >/dev/null && command -v llvm-lib-14 >/dev/null ||
  { echo "msvc_flags.sh needs clang-cl (Debian: apt-get install clang-tools-14 llvm-14)" >&2; exit 1; }
cmake --fresh --preset clang-cl >out/clang-cl.log 2>&1 || { cat out/clang-cl.log; exit 1; }
problems=0 lines=0
while read -r line; do
  for flag in /W4 /permissive- -WX -MT /arch:SSE2; do
    [[ " $line " == *" $flag "* ]] || { echo "no $flag in: $line"; problems=1; }
  done
  ! grep -qE ' -(W[a-z]|m[a-z]|f[a-z]|static)' <<<"$line" || { echo "GCC's options in: $line"; problems=1; }
  lines=$((lines + 1))
done < <(sed -n 's/^  "command": "\(.* -c -- .*\.cpp\)",$/\1/p' out/clang-cl/compile_commands.json)
[ $lines -gt 0 ] || { echo "no compile lines in out/clang-cl/compile_commands.json"; problems=1; }
link=out/clang-cl/CMakeFiles/biegacz.dir/link.txt
[ -e $link ] && ! grep -q ' -static ' $link || { echo "no link line, or -static in it"; problems=1; }
[ $problems = 0 ] && echo "msvc flags: /W4 /permissive- -WX -MT /arch:SSE2 on every compile, none of GCC's; no -static"
