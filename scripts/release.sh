#!/usr/bin/env bash
# Makes a release of the last commit, rebuilds one from its record, or checks
# a rebuild against a record:
#   scripts/release.sh                     the last commit, into out/dist/
#   scripts/release.sh [--anyway] RECORD   RECORD's commit again, from this clone, into out/rebuild/
#   scripts/release.sh --check RECORD [DIR]
#       the programs and packages built in DIR (out/rebuild/) must have RECORD's
#       sums, and the SHA256SUMS beside RECORD must hold exactly the sums of the
#       packages RECORD names and of RECORD itself, and be true of the files there
#   scripts/release.sh --build             every packing preset of the sources here, tests off
# A release and a rebuild both build from `git archive` of the commit, in a
# fresh Debian 12 root that scripts/fresh_machine.sh makes and throws away, and
# need root and mmdebstrap; they call this script inside the root, with
# --in-root-release or --in-root-rebuild.
#
# A release refuses uncommitted changes to tracked files, naming them, since
# its record would name a commit that did not make its bytes. Its root, of the
# one suite bookworm, holds what the packing presets need to build; the record
# lists every package in it, with its version, and the alternatives chosen.
# Then wine comes in for the tests, and every packing preset is built, tested
# (its package among the tests) and packed there.
# out/dist/ then holds the packages, the record (in the spirit of Debian's
# .buildinfo: the commit, SOURCE_DATE_EPOCH, the environment, the SHA-256 of
# each program and package) and SHA256SUMS.
#
# A rebuild's root, from this machine's apt sources, is given the recorded
# versions and alternatives, and builds the packing presets with the
# record's SOURCE_DATE_EPOCH, tests off, as the user nobody with umask 077.
# Where these apt sources cannot supply a recorded version, it names each one
# and exits 77 before building; with --anyway it builds with the versions it
# can get. Then --check: any sum other than the record's fails it, with
# diffoscope's report against the package of that name beside the record.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
release_packages="g++ cmake make libgtest-dev python3 g++-mingw-w64-i686 g++-mingw-w64-x86-64 strip-nondeterminism"

# A record's field of many lines, each without its leading space.
field() { sed -n "/^$1:/,/^[^ ]/s/^ //p" "$2"; }

# The packing presets' names, from cmake's list of them.
packing_presets() { cmake --list-presets=package | sed -n 's/^  "\([^"]*\)".*/\1/p'; }

# --build: builds and packs every packing preset of the sources here, tests off.
build_packages() {
  local preset
  for preset in $(packing_presets); do
    cmake --preset "$preset" -DBUILD_TESTING=OFF
    cmake --build --preset "$preset"
    cpack --preset "$preset"
  done
}

# --- Inside the root, as root, in the work folder -----------------------------

# The build environment, as the record writes it.
describe_environment() {
  echo "Build-Architecture: $(dpkg --print-architecture)"
  echo Alternatives:
  update-alternatives --get-selections | awk '{print " " $1 " " $3}'
  echo Installed-Build-Depends:
  dpkg-query -W -f ' ${binary:Package} (= ${Version})\n'
}

# One preset's workflow, quietly: its whole log where it fails, else what its tests came to.
run_workflow() {
  local log=../$1.log
  cmake --workflow --preset "$1" >"$log" 2>&1 || { cat "$log"; exit 1; }
  sed -n -e "s/^-- \(Tests under the 32-bit wine.*\)/$1: \1/p" -e "s/^\(.*tests passed.*\)/$1: \1/p" "$log"
}

# --in-root-release: records the environment, brings in wine for the tests, and
# builds, tests and packs every packing preset.
release_in_root() {
  local now preset
  describe_environment >environment
  apt-get update -qq
  apt-get install -qq --no-install-recommends wine64 wine32:i386 >/dev/null
  now=$(dpkg-query -W -f '${binary:Package} (= ${Version})\n')
  # A recorded package that wine changed or removed would make the record false.
  if field Installed-Build-Depends environment | grep -vxF "$now"; then
    echo "release: installing wine changed the packages above" >&2
    exit 1
  fi
  cd src
  for preset in $(packing_presets); do run_workflow "$preset"; done
}

# Of the packages named NAME=VERSION, those these apt sources lack: NAME=VERSION
# where they lack the version, NAME where they lack the package.
not_in_sources() {
  local no_version="s/^E: Version '\(.*\)' for '\(.*\)' was not found$/\2=\1/p"
  local no_package='s/^E: Unable to locate package //p'
  apt-get install -s --allow-downgrades "$@" 2>&1 | sed -n -e "$no_version" -e "$no_package"
}

# For --anyway, the packages given less what $lacking names: a version the
# sources lack gives way to the one they have, a package they lack is left out.
what_there_is() {
  local -A lacks=()
  local item
  for item in "${lacking[@]}"; do lacks[$item]=1; done
  for item in "$@"; do
    if [ -n "${lacks[$item]-}" ]; then
      echo "${item%%=*}"
    elif [ -z "${lacks[${item%%=*}]-}" ]; then
      echo "$item"
    fi
  done
}

set_alternatives() {
  local name path
  field Alternatives record | while read -r name path; do
    update-alternatives --set "$name" "$path" >/dev/null
  done
}

# The packing presets, built as nobody with umask 077 in a bare environment.
build_as_nobody() {
  local epoch
  epoch=$(sed -n 's/^Source-Date-Epoch: //p' record)
  chown -R nobody src
  setpriv --reuid=nobody --regid=nogroup --clear-groups \
    env -i PATH=/usr/bin:/bin HOME="$PWD/src" SOURCE_DATE_EPOCH="$epoch" \
    bash -c 'umask 077 && cd src && bash ../release.sh --build' >build.log 2>&1 ||
    { tail -n 30 build.log; exit 1; }
}

# --in-root-rebuild [--anyway]: the recorded versions and alternatives, then the build.
rebuild_in_root() {
  mapfile -t wanted < <(field Installed-Build-Depends record | sed 's/ (= \(.*\))$/=\1/')
  apt-get update -qq
  mapfile -t lacking < <(not_in_sources "${wanted[@]}")
  if [ ${#lacking[@]} != 0 ]; then
    printf 'rebuild: not to be had from these apt sources: %s\n' "${lacking[@]}"
    [ "${1-}" = --anyway ] || exit 77
    mapfile -t wanted < <(what_there_is "${wanted[@]}")
  fi
  apt-get install -qq --no-install-recommends --allow-downgrades "${wanted[@]}" >/dev/null
  set_alternatives
  build_as_nobody
}

# --- On the host, in the top folder of this clone -----------------------------

# A folder for the root, bound in at its own path: this script, the sources and what the root writes.
make_work_folder() {
  work=$(mktemp -d)
  chmod 755 "$work" # open to the unprivileged build
  trap 'rm -rf "$work"' EXIT
  cp scripts/release.sh "$work/"
  mkdir "$work/src"
  git archive "$1" | tar -x -C "$work/src"
}

# A record's sums as sha256sum -c reads them. Only the files of a build: the
# rebuild runs as root, so a record naming others is refused.
recorded_sums() {
  local sums
  sums=$(field Checksums-Sha256 "$1" | sed 's/ /  /')
  if grep -vE '^[0-9a-f]{64}  out/[a-z0-9-]+/biegacz[^/]*$' <<<"$sums" >&2; then
    echo "rebuild: not files of a build" >&2
    exit 1
  fi
  echo "$sums"
}

# A release names its commit, so the tree must be that commit's.
refuse_uncommitted_changes() {
  local changed
  changed=$(git status --porcelain --untracked-files=no)
  if [ -n "$changed" ]; then
    printf 'release: commit these first:\n%s\n' "$changed" >&2
    exit 1
  fi
}

# The packages' time is the archive's, which must be the commit's.
read_commit_time() {
  epoch=$(cat "$work/src/packaging/commit_time")
  if [ "$epoch" != "$(git log -1 --format=%ct "$1")" ]; then
    echo "release: git archive wrote no commit time into packaging/commit_time (see .gitattributes)" >&2
    exit 1
  fi
}

project_version() { sed -n 's/^project(biegacz VERSION \([^ ]*\).*/\1/p' CMakeLists.txt; }

# The record, in the root's sources: the commit, its time, the environment and the files' sums.
write_record() {
  local commit=$1
  shift
  printf 'Format: 1.0\nSource: biegacz %s\n' "$(project_version)"
  printf 'Commit: %s\nSource-Date-Epoch: %s\n' "$commit" "$epoch"
  cat "$work/environment"
  echo Checksums-Sha256:
  sha256sum "$@" | sed 's/^\([0-9a-f]*\)  / \1 /'
}

# The program and package of each preset given, as the root built them.
built_files() {
  local preset
  for preset in "$@"; do
    ls out/"$preset"/biegacz{,.exe,-*.zip,-*.tar.gz} 2>/dev/null || true
  done
}

# out/dist/: every packing preset's package, the record and SHA256SUMS.
gather_release() {
  local dist=$PWD/out/dist presets files file
  cd "$work/src"
  mapfile -t presets < <(packing_presets)
  mapfile -t files < <(built_files "${presets[@]}")
  if [ ${#presets[@]} = 0 ] || [ ${#files[@]} != $((2 * ${#presets[@]})) ]; then
    echo "release: not a program and a package from each of ${presets[*]}" >&2
    exit 1
  fi
  rm -rf "$dist"
  mkdir -p "$dist"
  write_record "$1" "${files[@]}" >"$dist/biegacz-$(project_version).buildinfo"
  for file in "${files[@]}"; do
    case $file in */biegacz-*) cp "$file" "$dist/" ;; esac
  done
  cd "$dist"
  sha256sum -- biegacz-* >SHA256SUMS
}

make_release() {
  local commit
  refuse_uncommitted_changes
  commit=$(git rev-parse HEAD)
  make_work_folder "$commit"
  read_commit_time "$commit"
  scripts/fresh_machine.sh --i386 --here "$work" --with "$release_packages" "bash release.sh --in-root-release"
  gather_release "$commit"
}

# The rebuilt programs and packages, kept in out/rebuild/ at the record's paths.
keep_rebuilt() {
  local path kept=$PWD/out/rebuild
  rm -rf "$kept"
  mkdir -p "$kept"
  for path in $(cut -d' ' -f3- <<<"$1"); do
    [ ! -e "$work/src/$path" ] || (cd "$work/src" && cp --parents "$path" "$kept")
  done
}

rebuild() {
  local anyway=$1 record=$2 sums
  sums=$(recorded_sums "$record")
  make_work_folder "$(sed -n 's/^Commit: //p' "$record")"
  cp "$record" "$work/record"
  scripts/fresh_machine.sh --here "$work" "bash release.sh --in-root-rebuild $anyway"
  keep_rebuilt "$sums"
  check_rebuild "$record" out/rebuild
}

# Why a rebuilt file fails: the record's sum alone, or bytes that diffoscope shows.
explain() {
  local name=$1 rebuilt=$2/$1 original
  original=$(dirname "$3")/${name##*/}
  if cmp -s "$original" "$rebuilt"; then
    echo "rebuild: $name is byte for byte $original: the sum in the record is what differs"
  elif [ -e "$original" ]; then
    diffoscope "$original" "$rebuilt" || true
  fi
}

# Each file built in DIR must have the record's sum; --strict fails a record
# whose sums are missing or malformed too.
compare_rebuilt() {
  local record=$1 dir=$2 sums report name
  sums=$(recorded_sums "$record")
  (cd "$dir" && cut -d' ' -f3- <<<"$sums" | xargs -r sha256sum) || true
  report=$(cd "$dir" && sha256sum --strict --quiet -c <<<"$sums" 2>&1) && return 0
  sed 's/^/rebuild: /' <<<"$report"
  for name in $(sed -n 's/: FAILED$//p' <<<"$report"); do explain "$name" "$dir" "$record"; done
  return 1
}

# What the SHA256SUMS beside a record must hold: the record's packages, and the record.
expected_sums_file() {
  recorded_sums "$1" | grep '/biegacz-' | sed 's|  out/[^/]*/|  |'
  (cd "$(dirname "$1")" && sha256sum -- "$(basename "$1")")
}

# The SHA256SUMS beside a record: the expected lines, true of the files beside it.
check_sums_file() {
  local dist
  dist=$(dirname "$1")
  if ! diff <(expected_sums_file "$1" | sort) <(sort "$dist/SHA256SUMS"); then
    echo "release: $dist/SHA256SUMS should hold the sums of the record and its packages (<), no others" >&2
    return 1
  fi
  (cd "$dist" && sha256sum --strict --quiet -c SHA256SUMS)
}

# --check RECORD [DIR]: both checks run, so that each says what it found.
check_rebuild() {
  local failed=0
  recorded_sums "$1" >/dev/null
  compare_rebuilt "$1" "$2" || failed=1
  check_sums_file "$1" || failed=1
  return $failed
}

# A job on the host, in the top folder of this clone.
on_host() {
  cd "$top"
  "$@"
}

case ${1-} in
  --build) build_packages ;;
  --in-root-release) release_in_root ;;
  --in-root-rebuild) rebuild_in_root "${2-}" ;;
  --check) on_host check_rebuild "$2" "${3:-out/rebuild}" ;;
  --anyway) on_host rebuild --anyway "$2" ;;
  "") on_host make_release ;;
  *) on_host rebuild "" "$1" ;;
esac
