#!/usr/bin/env bash
# Rebuilds packages from their records and their sources on a fresh Debian 12
# that holds the recorded versions of every package the build used.
#   scripts/rebuild.sh [--anyway] SOURCES RECORD...
# SOURCES: a clone, or a release's source archive unpacked. Where this
# machine's apt sources cannot supply a recorded version, it names each one and
# exits 77 before building; with --anyway it builds with the versions it can
# get, listing first those that differ. Prints the SHA-256 of each file rebuilt;
# one that is not its record's (sha256sum -c) fails, with diffoscope's report
# (cmp's without it) against the file of that name beside the record, where
# there is one.
set -euo pipefail
anyway=
[ "${1-}" != --anyway ] || { anyway=--anyway; shift; }
lines_of() { sed -n "/^$1:/,/^[^ ]/s/^ //p" "${@:2}"; } # a record's field of many lines
if [ "${1-}" != --in-root ]; then
  work=$(mktemp -d) status=0
  trap 'rm -rf "$work"' EXIT
  mkdir "$work/src" && tar -C "$1" --exclude=./out --exclude=./build -cf - . | tar -C "$work/src" -xf -
  shift
  cp "$@" "$work/" && cp "$0" "$work/rebuild.sh"
  "$(dirname "$0")/fresh_machine.sh" --here "$work" "bash ./rebuild.sh $anyway --in-root" || exit $?
  for record in "$@"; do
    lines_of Checksums-Sha256 "$record" | sed 's/ /  /' >"$work/sums"
    (cd "$work/src" && cut -d' ' -f3- "$work/sums" | xargs -r sha256sum) || true
    # --strict: a record whose sums are missing or malformed fails too.
    (cd "$work/src" && sha256sum --strict --quiet -c "$work/sums") >"$work/failed" 2>&1 || status=1
    sed 's/^/rebuild: /' "$work/failed"
    sed -n 's/: FAILED$//p' "$work/failed" | while read -r name; do
      rebuilt=$work/src/$name original=$(dirname "$record")/${name##*/}
      if cmp -s "$original" "$rebuilt" 2>/dev/null; then
        echo "rebuild: cmp: $name is byte for byte $original: the sum in the record is what differs"
      elif [ -e "$original" ]; then
        diffoscope "$original" "$rebuilt" 2>/dev/null || [ $? != 127 ] || cmp "$original" "$rebuilt" || true
      fi
    done
  done
  exit $status
fi

# From here on, inside the root, as root, in the work folder.
records=(*.buildinfo)
mapfile -t wanted < <(lines_of Installed-Build-Depends "${records[@]}" | sed 's/ (= \(.*\))$/=\1/' | sort -u)
apt-get update -qq
missing=()
for package in "${wanted[@]}"; do
  apt-cache madison "${package%%=*}" | grep -F " ${package#*=} |" >/dev/null || missing+=("$package") # no -q: pipefail
done
if [ ${#missing[@]} != 0 ]; then
  printf 'rebuild: not to be had from these apt sources: %s\n' "${missing[@]}"
  [ -n "$anyway" ] || exit 77
  for package in "${missing[@]}"; do
    wanted=("${wanted[@]/#$package/${package%%=*}}")
    echo "rebuild: instead of ${package#*=}, ${package%%=*} $(apt-cache policy "${package%%=*}" | sed -n 's/ *Candidate: //p')"
  done
fi
apt-get install -qq --no-install-recommends --allow-downgrades "${wanted[@]}" >/dev/null
lines_of Alternatives "${records[@]}" | sort -u | while read -r name path; do update-alternatives --set "$name" "$path" >/dev/null; done
cd src
for record in "${records[@]}"; do
  preset=$(sed -n 's/^Preset: //p' "../$record") epoch=$(sed -n 's/^Source-Date-Epoch: //p' "../$record")
  { SOURCE_DATE_EPOCH=$epoch cmake --preset "$preset" -DBUILD_TESTING=OFF && cmake --build --preset "$preset" &&
    SOURCE_DATE_EPOCH=$epoch cpack --preset "$preset"; } >"../$preset.log" 2>&1 || { tail -n 30 "../$preset.log"; exit 1; }
done
