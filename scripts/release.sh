#!/usr/bin/env bash
# Makes a release of the last commit, rebuilds one from its record, or checks
# a rebuild against its record:
#   scripts/release.sh                     the last commit, into out/dist/
#   scripts/release.sh [--anyway] RECORD   RECORD's commit again, from this clone, into out/rebuild/
#   scripts/release.sh --check RECORD [DIR]
#       what was built in DIR (out/rebuild/) must have RECORD's sums, and the
#       SHA256SUMS beside RECORD must hold the sums of RECORD and of each package
#       it names, no others, and be true of the files there
#   scripts/release.sh --build             every packing preset of the sources here, tests off
# A release and a rebuild both build from `git archive` of the commit, in a
# fresh Debian 12 root that scripts/fresh_machine.sh makes and throws away, and
# need root and mmdebstrap; inside the root they call this script again, with
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
# can get. Then comes --check: a sum other than the record's fails it, with
# diffoscope's report against the package of that name beside the record.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
die() { echo "$*" >&2; exit 1; }
field() { sed -n "/^$1:/,/^[^ ]/s/^ //p" "$2"; } # a record's field of many lines
packing_presets() { cmake --list-presets=package | sed -n 's/^  "\([^"]*\)".*/\1/p'; }

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

# --in-root-release: the environment recorded, wine brought in for the tests,
# then every packing preset built, tested and packed.
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

# --in-root-rebuild [--anyway]: the recorded versions and alternatives, then
# the packing presets built as nobody with umask 077 in a bare environment.
rebuild_in_root() {
  mapfile -t wanted < <(field Installed-Build-Depends record | sed "$as_pin")
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
}

# --- On the host, in the top folder of this clone -------------------------------

# A folder for the root, bound in at its own path: this script, the commit's
# sources, and what the root writes.
make_work_folder() {
  work=$(mktemp -d)
  chmod 755 "$work" # open to the unprivileged build
  trap 'rm -rf "$work"' EXIT
  cp scripts/release.sh "$work/"
  mkdir "$work/src" && git archive "$1" | tar -x -C "$work/src"
}

# A record's sums as sha256sum -c reads them; the rebuild runs as root, so a
# record naming other files than those of a build is refused.
recorded_sums() {
  local sums && sums=$(field Checksums-Sha256 "$1" | sed 's/ /  /')
  ! grep -vE '^[0-9a-f]{64}  out/[a-z0-9-]+/biegacz[^/]*$' <<<"$sums" >&2 || die "rebuild: not files of a build"
  echo "$sums"
}

# The program and package of each preset given, as the root built them.
built_files() {
  for preset in "$@"; do ls out/"$preset"/biegacz{,.exe,-*.zip,-*.tar.gz} 2>/dev/null || true; done
}

# out/dist/: the packages, the record and SHA256SUMS.
gather_release() {
  local commit=$1 epoch=$2 dist=$PWD/out/dist version presets files
  cd "$work/src"
  version=$(sed -n 's/^project(biegacz VERSION \([^ ]*\).*/\1/p' CMakeLists.txt)
  mapfile -t presets < <(packing_presets)
  mapfile -t files < <(built_files "${presets[@]}")
  [ ${#presets[@]} != 0 ] && [ ${#files[@]} = $((2 * ${#presets[@]})) ] ||
    die "release: not a program and a package from each of ${presets[*]}"
  rm -rf "$dist" && mkdir -p "$dist"
  # The record; its fields' lines start with a space, sha256sum's lines among them.
  { printf 'Format: 1.0\nSource: biegacz %s\nCommit: %s\nSource-Date-Epoch: %s\n' "$version" "$commit" "$epoch"
    cat ../environment
    echo Checksums-Sha256:
    sha256sum "${files[@]}" | sed 's/^\([0-9a-f]*\)  / \1 /'; } >"$dist/biegacz-$version.buildinfo"
  for file in "${files[@]}"; do [[ $file != */biegacz-* ]] || cp "$file" "$dist/"; done
  cd "$dist"
  sha256sum -- biegacz-* >SHA256SUMS
}

# (no argument): a release of the last commit, into out/dist/.
make_release() {
  local changed commit epoch
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

# [--anyway] RECORD: RECORD's commit built again in a fresh root, kept in out/rebuild/, then --check.
rebuild() {
  local sums && sums=$(recorded_sums "$2")
  make_work_folder "$(sed -n 's/^Commit: //p' "$2")"
  cp "$2" "$work/record"
  scripts/fresh_machine.sh --here "$work" "bash release.sh --in-root-rebuild $1"
  # What was rebuilt, kept in out/rebuild/ at the record's paths.
  rm -rf out/rebuild && mkdir out/rebuild
  (cd "$work/src" && cut -d' ' -f3- <<<"$sums" | xargs cp --parents -t "$top/out/rebuild") || true
  check "$2" out/rebuild
}

# Why a rebuilt file differs: the record's sum alone, or bytes that diffoscope shows.
explain() {
  local rebuilt=$2/$1 original && original=$(dirname "$3")/${1##*/}
  if cmp -s "$original" "$rebuilt"; then
    echo "rebuild: $1 is byte for byte $original: the sum in the record is what differs"
  elif [ -e "$original" ]; then
    diffoscope "$original" "$rebuilt" || true
  fi
}

# What the SHA256SUMS beside a record must hold: the sums of its packages, and its own.
sums_file_of() {
  recorded_sums "$1" | sed -n 's|  out/[^/]*/\(biegacz-\)|  \1|p'
  (cd "$(dirname "$1")" && sha256sum -- "$(basename "$1")")
}

# --check RECORD [DIR]: the SHA256SUMS beside RECORD must hold what it should
# and be true of the files there; each file built in DIR must have RECORD's
# sum (--strict: a record whose sums are missing or malformed fails too).
# Both checks run, each saying what it finds.
check() {
  local record=$1 dir=$2 status=0 dist sums failed
  dist=$(dirname "$record")
  sums=$(recorded_sums "$record")
  diff <(sums_file_of "$record" | sort) <(sort "$dist/SHA256SUMS") ||
    { echo "release: $dist/SHA256SUMS should hold the sums of the record and its packages (<), no others"; status=1; }
  (cd "$dist" && sha256sum --strict --quiet -c SHA256SUMS) || status=1
  failed=$(cd "$dir" && sha256sum --strict -c <<<"$sums" 2>&1) || status=1
  sed 's/^/rebuild: /' <<<"$failed"
  for name in $(sed -n 's/: FAILED$//p' <<<"$failed"); do explain "$name" "$dir" "$record"; done
  return $status
}

case ${1-} in
  --build) build_packages ;;
  --in-root-release) release_in_root ;;
  --in-root-rebuild) rebuild_in_root "${2-}" ;;
  --check) cd "$top"; check "$2" "${3:-out/rebuild}" ;;
  --anyway) cd "$top"; rebuild --anyway "$2" ;;
  "") cd "$top"; make_release ;;
  *) cd "$top"; rebuild "" "$1" ;;
esac
