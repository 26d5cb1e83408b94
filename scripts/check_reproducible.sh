#!/usr/bin/env bash
# Builds the last commit's package presets again, tests off, and compares the
# programs and packages their records name with those the workflows left in
# out/: twice by reprotest, the second build varying all it can vary here;
# then once from `git archive HEAD`, with no .git, as an unprivileged user
# with umask 077 (no fakeroot), which reprotest cannot do here. diffoscope
# shows any difference.
set -euo pipefail
cd "$(dirname "$0")/.."
for tool in reprotest diffoscope disorderfs faketime; do command -v $tool >/dev/null || { echo "${0##*/} needs reprotest and its helpers (Debian: apt-get install reprotest diffoscope disorderfs faketime locales-all)" >&2; exit 1; }; done
presets=$(cmake --list-presets=package | sed -n 's/^  "\([^"]*\)".*/\1/p')
mapfile -t files < <(for preset in $presets; do
  sed -n '/^Checksums-Sha256:/,/^[^ ]/s/^ [0-9a-f]\{64\} //p' out/"$preset"/*.buildinfo; done)
[ ${#files[@]} -gt 0 ] && ls "${files[@]}" >/dev/null || { echo "${0##*/}: run the packing workflows first" >&2; exit 1; }
# A locale reprotest sets but this machine lacks would fall back to C and vary nothing.
build='[ -z "${LC_ALL-}" ] || locale -a | grep -qixF "$(echo "$LC_ALL" | sed "s/UTF-8$/utf8/")" || { echo "no locale $LC_ALL" >&2; exit 1; }
'"(for preset in $(echo $presets); do"' cmake --preset $preset -DBUILD_TESTING=OFF &&
  cmake --build --preset $preset && cpack --preset $preset || exit 1
done) >build.log 2>&1 || { tail -n 30 build.log; exit 1; }'
work=$(mktemp -d); chmod 755 "$work" # open to the unprivileged build
trap 'rm -rf "$work"' EXIT
failed=0
compare() {
  local same=yes
  for file in "${files[@]}"; do
    cmp -s "$file" "$1/$file" || { diffoscope "$file" "$1/$file" || true; same=no failed=1; }
  done
  echo "$2: $([ $same = yes ] && echo "the same ${#files[@]} files" || echo DIFFERENT)"
}

git clone --quiet --no-hardlinks . "$work/clone"
vary=-domain_host,-user_group why="domain_host, user_group (they run \`sudo -h localhost\`, which Debian 12's sudo refuses)"
[ -e /dev/fuse ] || vary+=,-fileordering why+="; fileordering (disorderfs needs /dev/fuse)"
echo "reprotest: not varied: $why"
reprotest --verbosity 1 --vary=$vary --store-dir="$work/reprotest" \
  -c "$build" "$work/clone" "${files[*]}" >"$work/reprotest.log" 2>&1 || failed=1
# The variations, then the verdict with the sums or diffoscope's report.
grep -vE '^(WARNING|INFO):reprotest(\.[a-z]+)?:[a-z]' "$work/reprotest.log" || true
compare "$work/reprotest/control/source-root" "reprotest's control build"

# One build for the rest: from `git archive HEAD`, with no .git, as nobody
# where root can make it so, with umask 077 (no fakeroot).
user=$(id -un) as=()
[ "$(id -u)" != 0 ] || user=nobody as=(setpriv --reuid=nobody --regid=nogroup --clear-groups)
(umask 077 && mkdir "$work/archive" && git archive HEAD | tar -x --no-same-permissions -C "$work/archive" &&
  chown -R "$user" "$work/archive")
"${as[@]}" env -i PATH=/usr/local/bin:/usr/bin:/bin HOME="$work/archive" \
  bash -c 'umask 077 && cd "$1" && eval "$2"' build "$work/archive" "$build"
compare "$work/archive" "from git archive HEAD, as $user, umask 077"
sha256sum "${files[@]}"
[ $failed = 0 ] || { echo "${0##*/}: not reproducible" >&2; exit 1; }
