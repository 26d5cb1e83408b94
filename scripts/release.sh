#!/usr/bin/env bash
# Makes a release of the last commit, rebuilds one from its record, or checks
# a rebuild against its record; each job's comment below says how it goes.
#   scripts/release.sh                     a release of the last commit, into out/dist/
#   scripts/release.sh [--anyway] RECORD   RECORD's commit built again, into out/rebuild/, then --check
#   scripts/release.sh --check RECORD [DIR]   what DIR (out/rebuild/) and RECORD's folder hold
#   scripts/release.sh --build             every packing preset of the sources here, tests off
# A release and a rebuild both build from `git archive` of the commit, in a
# fresh Debian 12 root that scripts/fresh_machine.sh makes and throws away, and
# need root and mmdebstrap; inside the root they call this script again, with
# --in-root-release or --in-root-rebuild.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
die() { echo "$*" >&2; exit 1; }
field() { sed -n "/^$1:/,/^[^ ]/s/^ //p" "$2"; } # a record's field of many lines
packing_presets() { cmake --list-presets=package | sed -n 's/^  "\([^"]*\)".*/\1/p'; }

# The packing presets of COMMIT, as its own CMakePresets.json lists them.
packing_presets_of() {
  local presets && presets=$(mktemp -d)
  git -C "$top" archive "$1" CMakePresets.json | tar -x -C "$presets"
  (cd "$presets" && packing_presets)
  rm -r "$presets"
}

# Of the paths out/PRESET/PACKAGE read, what differs from one package of each
# packing preset of COMMIT (<), as diff shows it.
not_one_package_each() {
  diff <(packing_presets_of "$1" | sort) <(cut -d/ -f2 | sort)
}

# --build: every packing preset of the sources here, built and packed, tests off.
build_packages() {
  for preset in $(packing_presets); do
    cmake --preset "$preset" -DBUILD_TESTING=OFF
    cmake --build --preset "$preset"
    cpack --preset "$preset"
  done
}

# --- Inside the root, as root, in the work folder ------------------------------

describe_environment() {
  echo "Build-Architecture: $(dpkg --print-architecture)"
  echo Alternatives: && update-alternatives --get-selections | awk '{print " " $1 " " $3}'
  echo Installed-Build-Depends: && dpkg-query -W -f ' ${binary:Package} (= ${Version})\n'
}

# What a workflow's log says of its tests: whether the 32-bit wine runs them, and the tally.
tests_said='s/^-- \(Tests under the 32-bit wine.*\)/\1/p; s/^\(.*tests passed.*\)/\1/p'

# --in-root-release: the root holds what the packing presets need to build and
# test, but for wine; the environment is recorded, then wine comes in, and
# every packing preset is built, tested (its package among the tests) and packed.
release_in_root() {
  describe_environment >environment
  apt-get update -qq
  apt-get install -qq --no-install-recommends wine64 wine32:i386 >/dev/null
  # What wine changed or removed of the recorded environment would make the record false.
  ! grep -vxF "$(describe_environment)" environment || die "release: installing wine changed the recorded lines above"
  cd src
  # Each preset's workflow, quietly: its whole log where it fails, else what its tests came to.
  for preset in $(packing_presets); do
    cmake --workflow --preset "$preset" >"../$preset.log" 2>&1 || { cat "../$preset.log"; exit 1; }
    sed -n "$tests_said" "../$preset.log" | sed "s/^/$preset: /"
  done
}

# A recorded package, "NAME (= VERSION)", as apt-get takes it: NAME=VERSION.
as_pin='s/ (= \(.*\))$/=\1/'
# apt-get's words for a version these apt sources lack, as NAME=VERSION, and for a package they lack, as NAME.
no_version="s/^E: Version '\(.*\)' for '\(.*\)' was not found$/\2=\1/p"
no_package='s/^E: Unable to locate package //p'

# For --anyway, the packages given, where the sources lack a version, take the
# one they have; where they lack a package, leave it out.
what_there_is() {
  local -A lacks=()
  for item in "${missing[@]}"; do lacks[$item]=1; done
  for item in "$@"; do
    if [ -n "${lacks[$item]-}" ]; then echo "${item%%=*}"; fi
    if [ -z "${lacks[$item]-}${lacks[${item%%=*}]-}" ]; then echo "$item"; fi
  done
}

# --in-root-rebuild [--anyway]: the root, from the host's apt sources, is given
# the recorded versions (named without the native architecture's suffix, as
# apt-get's errors name them) and alternatives. Where the sources lack one, it
# names each and exits 77 before building; with --anyway it builds with what
# they have. The packing presets are built with the record's
# SOURCE_DATE_EPOCH, tests off, as the user nobody with umask 077.
rebuild_in_root() {
  mapfile -t wanted < <(field Installed-Build-Depends record | sed "$as_pin; s/:$(dpkg --print-architecture)=/=/")
  apt-get update -qq
  mapfile -t missing < <(apt-get install -s --allow-downgrades "${wanted[@]}" 2>&1 |
    sed -n "$no_version; $no_package")
  if [ ${#missing[@]} != 0 ]; then
    printf 'rebuild: not to be had from these apt sources: %s\n' "${missing[@]}"
    [ "${1-}" = --anyway ] || exit 77
    mapfile -t wanted < <(what_there_is "${wanted[@]}")
  fi
  apt-get install -qq --no-install-recommends --allow-downgrades "${wanted[@]}" >/dev/null
  field Alternatives record | while read -r name path; do update-alternatives --set "$name" "$path" >/dev/null; done
  chown -R nobody src
  setpriv --reuid=nobody --regid=nogroup --clear-groups env -i PATH=/usr/bin:/bin HOME="$PWD/src" \
    SOURCE_DATE_EPOCH="$(sed -n 's/^Source-Date-Epoch: //p' record)" \
    bash -c 'umask 077 && cd src && bash ../release.sh --build' >build.log 2>&1 || { tail -n 30 build.log; exit 1; }
  # What the record names, copied by root with any link resolved in the root, so never to a host path.
  field Checksums-Sha256 record | cut -d' ' -f2 | xargs -I{} install -D src/{} rebuilt/{} || true
}

# --- On the host ----------------------------------------------------------------

# A folder for the root, bound in at its own path: this script, the commit's
# sources, and what the root writes.
make_work_folder() {
  work=$(mktemp -d)
  chmod 755 "$work" # open to the unprivileged build
  trap 'rm -rf "$work"' EXIT
  cp scripts/release.sh "$work/"
  mkdir "$work/src" && git archive "$1" | tar -x -C "$work/src"
}

# The form of each line of a record, as with_fields shows it. The host runs
# git archive with its commit and copies the files it names, and a root gives
# apt-get and update-alternatives its packages and alternatives: a line of any
# other form, such as a value that would be an option, is refused before use.
record_forms='=Format: 1\.0
=Source: biegacz [0-9]+(\.[0-9]+)*
=Commit: [0-9a-f]{40}
=Source-Date-Epoch: [0-9]+
=Build-Architecture: [a-z0-9]+
=(Alternatives|Installed-Build-Depends|Checksums-Sha256):
Alternatives [A-Za-z0-9][A-Za-z0-9._+-]* /[A-Za-z0-9._+/-]+
Installed-Build-Depends [a-z0-9][a-z0-9.+-]*(:[a-z0-9]+)? \(= [A-Za-z0-9.+~:-]+\)
Checksums-Sha256 [0-9a-f]{64} out/[a-z0-9-]+/biegacz-[A-Za-z0-9._+-]+\.(zip|tar\.gz)'

# Each line of a record, a field's first line after "=", each further line
# (which starts with a space) after its field's name, which no line can forge.
with_fields() { awk '/^ / { print field $0; next } { field = $0; sub(/:.*/, "", field); print "=" $0 }' "$1"; }

# A record's sums as sha256sum -c reads them, once each of its lines has the
# form of its field; else the first that has not, named.
recorded_sums() {
  local other
  [ -r "$1" ] || die "rebuild: no record $1"
  other=$(with_fields "$1" | grep -a -n -v -x -E -f <(echo "$record_forms") | head -n 1 | cut -d: -f1)
  [ -z "$other" ] || die "rebuild: line $other of $1 is not of a record's form: $(sed -n "${other}p" "$1" | cat -v)"
  field Checksums-Sha256 "$1" | sed 's/ /  /'
}

# out/dist/: the packages, the record (in the spirit of Debian's .buildinfo:
# the commit, SOURCE_DATE_EPOCH, the environment, the SHA-256 of each
# package) and SHA256SUMS of the packages and the record. What the root's
# tests came to goes to out/junit/, for CI's tally.
gather_release() {
  local commit=$1 epoch=$2 dist=$top/out/dist version packages
  cd "$work/src"
  version=$(sed -n 's/^project(biegacz VERSION \([^ ]*\).*/\1/p' CMakeLists.txt)
  mapfile -t packages < <(ls out/*/biegacz-*.zip out/*/biegacz-*.tar.gz 2>/dev/null)
  printf '%s\n' "${packages[@]}" | not_one_package_each "$commit" ||
    die "release: not one package from each packing preset (<)"
  find out -maxdepth 2 -name junit.xml -type f -exec install -D {} "$top/out/junit/release-root/{}" \;
  rm -rf "$dist" && mkdir -p "$dist"
  # The record; its fields' lines start with a space, sha256sum's lines among them.
  { printf 'Format: 1.0\nSource: biegacz %s\nCommit: %s\nSource-Date-Epoch: %s\n' "$version" "$commit" "$epoch"
    cat ../environment
    echo Checksums-Sha256:
    sha256sum "${packages[@]}" | sed 's/^\([0-9a-f]*\)  / \1 /'; } >"$dist/biegacz-$version.buildinfo"
  cp "${packages[@]}" "$dist/"
  cd "$dist"
  sha256sum -- biegacz-* >SHA256SUMS
}

# The release refuses uncommitted changes to tracked files, naming them: its
# sources are the commit's, from git archive, but the scripts that build them
# run from this tree, so a changed tree could make a release its commit cannot
# make again. Its root is of the one suite bookworm.
make_release() {
  local changed commit epoch
  cd "$top"
  changed=$(git status --porcelain --untracked-files=no)
  [ -z "$changed" ] || die "$(printf 'release: commit these first:\n%s' "$changed")"
  commit=$(git rev-parse HEAD)
  make_work_folder "$commit"
  # The packages' time is the archive's, which must be the commit's.
  epoch=$(cat "$work/src/packaging/commit_time")
  [ "$epoch" = "$(git log -1 --format=%ct "$commit")" ] ||
    die "release: git archive wrote no commit time into packaging/commit_time (see .gitattributes)"
  scripts/fresh_machine.sh --i386 --here "$work" --with "g++ cmake make libgtest-dev python3
    g++-mingw-w64-i686 g++-mingw-w64-x86-64 strip-nondeterminism" "bash release.sh --in-root-release"
  gather_release "$commit" "$epoch"
}

# The rebuild's root is of this machine's apt sources; what it built is kept
# in out/rebuild/ at the record's paths.
rebuild() {
  local sums && sums=$(recorded_sums "$2")
  cd "$top"
  make_work_folder "$(sed -n 's/^Commit: //p' "$2")"
  cp "$2" "$work/record"
  scripts/fresh_machine.sh --here "$work" "bash release.sh --in-root-rebuild $1"
  rm -rf out/rebuild && mkdir -p out
  mv "$work/rebuilt" out/rebuild
  check "$2" "$top/out/rebuild"
}

# Why a rebuilt file differs: the record's sum alone, or bytes that diffoscope shows.
explain() {
  local rebuilt=$2/$1 original && original=$(dirname "$3")/${1##*/}
  if cmp -s "$original" "$rebuilt"; then
    echo "rebuild: $1 is byte for byte $original: the sum in the record is what differs"
  elif [ -e "$original" ] && command -v diffoscope >/dev/null; then
    diffoscope "$original" "$rebuilt" || true
  fi
}

# --check RECORD [DIR]: RECORD must name one package of each packing preset
# of its commit; a SHA256SUMS beside it, where there is one, must hold what it
# should and be true of the files there; each package RECORD names must be in
# DIR with its sum. All run, each saying what it finds.
check() {
  local record=$1 dir=$2 status=0 dist=${1%/*} sums failed wanted
  [ -d "$dir" ] || die "rebuild: no folder '$dir'"
  sums=$(recorded_sums "$record")
  cut -d' ' -f3- <<<"$sums" | not_one_package_each "$(sed -n 's/^Commit: //p' "$record")" ||
    { echo "rebuild: the record should name one package of each packing preset of its commit (<)"; status=1; }
  if [ -e "$dist/SHA256SUMS" ]; then
    # What it must hold: the sums of the record's packages, and the record's own.
    wanted=$(sed 's|  out/[^/]*/|  |' <<<"$sums" && cd "$dist" && sha256sum -- "${record##*/}")
    diff <(sort <<<"$wanted") <(sort "$dist/SHA256SUMS") ||
      { echo "release: $dist/SHA256SUMS should hold the sums of the record and its packages (<), no others"; status=1; }
    (cd "$dist" && sha256sum --strict --quiet -c <<<"$wanted") || status=1 # only names checked above
  fi
  failed=$(cd "$dir" && sha256sum --strict -c <<<"$sums" 2>&1) || status=1
  sed 's/^/rebuild: /' <<<"$failed"
  for name in $(sed -n 's/: FAILED$//p' <<<"$failed"); do explain "$name" "$dir" "$record"; done
  return $status
}

case ${1-} in
  --build) build_packages ;;
  --in-root-release) release_in_root ;;
  --in-root-rebuild) rebuild_in_root "${2-}" ;;
  --check) check "$(realpath -- "${2-}")" "$(realpath -- "${3:-$top/out/rebuild}")" ;;
  --anyway) rebuild --anyway "$(realpath -- "${2-}")" ;;
  "") make_release ;;
  *) rebuild "" "$(realpath -- "$1")" ;;
esac
