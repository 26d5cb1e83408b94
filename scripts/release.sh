#!/usr/bin/env bash
# Makes a release of the last commit, or rebuilds one from its record.
#   scripts/release.sh                    the last commit, into out/dist/
#   scripts/release.sh [--anyway] RECORD  the commit RECORD names, again, from this clone
#   scripts/release.sh --build            every packing preset of the sources here, tests
#                                         off, as a rebuild and the reproducibility check build
# Both build from `git archive` of the commit, in a fresh Debian 12 root that
# scripts/fresh_machine.sh makes and throws away, and need root and mmdebstrap.
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
# can get. Any sum other than the record's fails it, with diffoscope's report
# against the package of that name beside the record.
set -euo pipefail
field() { sed -n "/^$1:/,/^[^ ]/s/^ //p" "$2"; } # a record's field of many lines
presets() { cmake --list-presets=package | sed -n 's/^  "\([^"]*\)".*/\1/p'; }
if [ "${1-}" = --build ]; then
  for p in $(presets); do cmake --preset "$p" -DBUILD_TESTING=OFF && cmake --build --preset "$p" && cpack --preset "$p" || exit 1; done
  exit
fi

if [ "${1-}" = --in-root ]; then # inside the root, as root, in the work folder
  if [ ! -e record ]; then
    { echo "Build-Architecture: $(dpkg --print-architecture)"
      echo Alternatives: && update-alternatives --get-selections | awk '{print " " $1 " " $3}'
      echo Installed-Build-Depends: && dpkg-query -W -f ' ${binary:Package} (= ${Version})\n'; } >environment
    apt-get update -qq && apt-get install -qq --no-install-recommends wine64 wine32:i386 >/dev/null
    dpkg-query -W -f '${binary:Package} (= ${Version})\n' | grep -vxFf - <(field Installed-Build-Depends environment) &&
      { echo "release: installing wine changed the packages above" >&2; exit 1; }
    cd src
    for preset in $(presets); do
      cmake --workflow --preset "$preset" >"../$preset.log" 2>&1 || { cat "../$preset.log"; exit 1; }
      sed -n "s/^-- \(Tests under the 32-bit wine.*\)/$preset: \1/p; s/^\(.*tests passed.*\)/$preset: \1/p" "../$preset.log"
    done
    exit
  fi
  mapfile -t wanted < <(field Installed-Build-Depends record | sed 's/ (= \(.*\))$/=\1/')
  apt-get update -qq
  mapfile -t missing < <(apt-get install -s --allow-downgrades "${wanted[@]}" 2>&1 |
    sed -n "s/^E: Version '\(.*\)' for '\(.*\)' was not found$/\2=\1/p; s/^E: Unable to locate package //p")
  if [ ${#missing[@]} != 0 ]; then
    printf 'rebuild: not to be had from these apt sources: %s\n' "${missing[@]}"
    [ "${2-}" = --anyway ] || exit 77
    for package in "${missing[@]}"; do # a version it lacks: the one it has; a package it lacks: none
      mapfile -t wanted < <(printf '%s\n' "${wanted[@]}" | sed "/^${package%%=*}=/$([[ $package == *=* ]] && echo 's/=.*//' || echo d)")
    done
  fi
  apt-get install -qq --no-install-recommends --allow-downgrades "${wanted[@]}" >/dev/null
  field Alternatives record | while read -r name path; do update-alternatives --set "$name" "$path" >/dev/null; done
  chown -R nobody src
  setpriv --reuid=nobody --regid=nogroup --clear-groups env -i PATH=/usr/bin:/bin HOME="$PWD/src" \
    SOURCE_DATE_EPOCH="$(sed -n 's/^Source-Date-Epoch: //p' record)" bash -c 'umask 077 && cd src && bash ../release.sh --build' \
    >build.log 2>&1 || { tail -n 30 build.log; exit 1; }
  exit
fi

cd "$(dirname "$0")/.."
anyway=
[ "${1-}" != --anyway ] || { anyway=--anyway && shift; }
record=${1-}
work=$(mktemp -d) && chmod 755 "$work" # open to the unprivileged build
trap 'rm -rf "$work"' EXIT
cp "$0" "$work/release.sh"
if [ -n "$record" ]; then
  commit=$(sed -n 's/^Commit: //p' "$record") && cp "$record" "$work/record"
  field Checksums-Sha256 "$record" | sed 's/ /  /' >"$work/sums"
  ! grep -vE '^[0-9a-f]{64}  out/[a-z0-9-]+/biegacz[^/]*$' "$work/sums" || { echo "rebuild: not files of a build" >&2; exit 1; }
else
  changed=$(git status --porcelain --untracked-files=no)
  [ -z "$changed" ] || { printf 'release: commit these first:\n%s\n' "$changed" >&2; exit 1; }
  commit=$(git rev-parse HEAD)
fi
mkdir "$work/src" && git archive "$commit" | tar -x -C "$work/src"

if [ -n "$record" ]; then
  scripts/fresh_machine.sh --here "$work" "bash release.sh --in-root $anyway" || exit $?
  (cd "$work/src" && cut -d' ' -f3- "$work/sums" | xargs -r sha256sum) || true
  # --strict: a record whose sums are missing or malformed fails too.
  (cd "$work/src" && sha256sum --strict --quiet -c "$work/sums") >"$work/failed" 2>&1 && exit
  sed 's/^/rebuild: /' "$work/failed"
  sed -n 's/: FAILED$//p' "$work/failed" | while read -r name; do
    rebuilt=$work/src/$name original=$(dirname "$record")/${name##*/}
    if cmp -s "$original" "$rebuilt"; then
      echo "rebuild: $name is byte for byte $original: the sum in the record is what differs"
    elif [ -e "$original" ]; then
      diffoscope "$original" "$rebuilt" || true
    fi
  done
  exit 1
fi

# The archive's time is the packages': it must be the commit's.
epoch=$(cat "$work/src/packaging/commit_time")
[ "$epoch" = "$(git log -1 --format=%ct "$commit")" ] ||
  { echo "release: git archive wrote no commit time into packaging/commit_time (see .gitattributes)" >&2; exit 1; }
scripts/fresh_machine.sh --i386 --here "$work" --with "g++ cmake make libgtest-dev python3
  g++-mingw-w64-i686 g++-mingw-w64-x86-64 strip-nondeterminism" "bash release.sh --in-root"
rm -rf out/dist && mkdir -p out/dist
cd "$work/src"
version=$(sed -n 's/^project(biegacz VERSION \([^ ]*\).*/\1/p' CMakeLists.txt)
presets=$(presets) && mapfile -t files < <(for p in $presets; do ls out/"$p"/biegacz{,.exe,-*.zip,-*.tar.gz} 2>/dev/null || true; done)
[ -n "$presets" ] && [ ${#files[@]} = $((2 * $(wc -w <<<"$presets"))) ] || { echo "release: not a program and a package from each of" $presets >&2; exit 1; }
{ printf 'Format: 1.0\nSource: biegacz %s\nCommit: %s\nSource-Date-Epoch: %s\n' "$version" "$commit" "$epoch"
  cat ../environment && echo Checksums-Sha256: && sha256sum "${files[@]}" | sed 's/^\([0-9a-f]*\)  / \1 /'
} >"$OLDPWD/out/dist/biegacz-$version.buildinfo"
for file in "${files[@]}"; do [[ $file != */biegacz-* ]] || cp "$file" "$OLDPWD/out/dist/"; done
cd "$OLDPWD/out/dist" && sha256sum -- biegacz-* >SHA256SUMS
