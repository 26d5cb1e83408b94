#!/usr/bin/env bash
# Builds the package presets of the last commit twice with reprotest, from a
# clone, tests off, the second build varying all it can vary here (it lists
# what), and compares their programs and packages, diffoscope showing any
# difference; then checks the first build against the record of the release
# scripts/release.sh made from the same commit, out/dist/, which a host with
# other package versions than the record's may fail.
set -euo pipefail
cd "$(dirname "$0")/.."
die() { echo "${0##*/}: $*" >&2; exit 1; }
grep -qx "Commit: $(git rev-parse HEAD)" out/dist/*.buildinfo ||
  die "no release of the last commit in out/dist (scripts/release.sh)"
for tool in reprotest diffoscope disorderfs faketime; do
  command -v $tool >/dev/null ||
    die "needs $tool (Debian: apt-get install reprotest diffoscope disorderfs faketime locales-all)"
done

# What each build runs. A locale reprotest sets but this machine lacks would
# fall back to C and vary nothing, so that fails.
build='[ -z "${LC_ALL-}" ] || locale -a | grep -qixF "$(echo "$LC_ALL" | sed "s/UTF-8$/utf8/")" ||
  { echo "no locale $LC_ALL" >&2; exit 1; }
bash scripts/release.sh --build >build.log 2>&1 || { tail -n 30 build.log; exit 1; }'

work=$(mktemp -d) && trap 'rm -rf "$work"' EXIT
git clone --quiet --no-hardlinks . "$work/clone"
vary=-domain_host,-user_group
why="domain_host, user_group (they run \`sudo -h localhost\`, which Debian 12's sudo refuses)"
[ -e /dev/fuse ] || { vary+=,-fileordering && why+="; fileordering (disorderfs needs /dev/fuse)"; }
echo "reprotest: not varied: $why"
status=0
reprotest --verbosity 1 --vary=$vary --store-dir="$work/reprotest" -c "$build" "$work/clone" \
  'out/*/biegacz out/*/biegacz.exe out/*/biegacz-*' >"$work/reprotest.log" 2>&1 || status=$?
# The variations, then the verdict with diffoscope's report.
grep -vE '^(WARNING|INFO):reprotest(\.[a-z]+)?:[a-z]' "$work/reprotest.log" || true
# The control build, from a clone, must give the release's bytes, built from git archive in its root.
scripts/release.sh --check out/dist/*.buildinfo "$work/reprotest/control/source-root" || status=1
[ $status = 0 ] || die "not reproducible"
