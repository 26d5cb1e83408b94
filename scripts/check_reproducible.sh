#!/usr/bin/env bash
# Builds the last commit's programs and packages twice more and compares them
# byte for byte with those the workflows of `release`, `windows` and
# `windows-x64` left in out/:
#   - a clone on a filesystem of another kind than out/'s (a tmpfs where out/
#     is on disk), at another depth, built by another user (nobody, when run
#     as root; no fakeroot) with umask 077, TZ=Asia/Tokyo and another locale;
#   - the commit as a release's source archive has it, made by `git archive`:
#     no .git, so the packages take their time from the file it fills in.
# Prints what it varied and what it could not vary here, then a SHA-256 a
# file. On a difference it names the file and, for a package, the first entry
# that differs, with both listings. Uncommitted changes in the first build
# differ, as they should.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/need.sh
need git git
need python3 python3
presets=(release windows windows-x64)

files=()
for preset in "${presets[@]}"; do
  program=out/$preset/biegacz$([ "$preset" = release ] || echo .exe)
  package=$(ls out/"$preset"/biegacz-*.{tar.gz,zip} 2>/dev/null || true)
  if [ ! -f "$program" ] || [ -z "$package" ]; then
    echo "${0##*/}: nothing to compare in out/$preset: run \`cmake --workflow --preset $preset\` first" >&2
    exit 1
  fi
  files+=("$program" "$package")
done

not_varied=()
fs_kind() { stat -f -c %T "$1"; }
first_kind=$(fs_kind out)
# The second copy's place: the first of these on a filesystem of another kind,
# with room for the three builds.
place=""
for dir in "${TMPDIR:-/tmp}" /dev/shm /var/tmp; do
  if [ -d "$dir" ] && [ -w "$dir" ] && [ "$(fs_kind "$dir")" != "$first_kind" ] &&
    [ "$(df -Pk "$dir" | awk 'NR == 2 { print $4 }')" -gt $((50 << 10)) ]; then
    place=$dir
    break
  fi
done
if [ -z "$place" ]; then
  place=${TMPDIR:-/tmp}
  not_varied+=("the filesystem: no place of another kind than out/'s ($first_kind) has 50 MiB free")
fi
user=$(id -un)
as_user=()
if [ "$(id -u)" = 0 ] && id nobody >/dev/null 2>&1; then
  user=nobody
  as_user=(setpriv --reuid=nobody --regid="$(id -g nobody)" --clear-groups)
else
  not_varied+=("the user: only root can build as another")
fi
# Another locale, one with a decimal comma where it is installed.
squash() { tr -d - <<<"${1,,}"; }
here_locale=$(locale 2>/dev/null | sed -n 's/^LC_CTYPE="\{0,1\}\([^"]*\)"\{0,1\}$/\1/p')
installed=$(locale -a 2>/dev/null | while read -r name; do squash "$name"; done)
other_locale=""
for candidate in pl_PL.UTF-8 C.UTF-8 POSIX; do
  if grep -qxF "$(squash $candidate)" <<<"$installed" &&
    [ "$(squash $candidate)" != "$(squash "${here_locale:-C}")" ]; then
    other_locale=$candidate
    break
  fi
done
if [ -z "$other_locale" ]; then
  other_locale=${here_locale:-C}
  not_varied+=("the locale: no other one is installed")
fi

second=$(mktemp -d "$place/biegacz-second.XXXXXX")
third=$(mktemp -d)
trap 'rm -rf "$second" "$third"' EXIT

# Builds the presets, tests off, in the folder $1 with the command after it;
# its output goes to a log and is shown only on a failure.
build_copy() {
  local dir=$1 log=$1.log
  shift
  if ! "$@" bash -c 'cd "$1" && shift && for preset; do
      cmake --preset "$preset" -DBUILD_TESTING=OFF && cmake --build --preset "$preset" &&
        cpack --preset "$preset" || exit 1
    done' build "$dir" "${presets[@]}" >"$log" 2>&1; then
    tail -n 30 "$log"
    echo "${0##*/}: the build in $dir failed" >&2
    exit 1
  fi
}

clone=$second/a/b/biegacz
(umask 077 && git clone --quiet --no-hardlinks . "$clone")
[ "$user" = "$(id -un)" ] || chown -R "$user" "$second"
echo "second build: in $place ($(fs_kind "$second"); out/ is on $first_kind), as $user," \
  "umask 077, TZ=Asia/Tokyo, LC_ALL=$other_locale, no fakeroot"
build_copy "$clone" "${as_user[@]}" env -i PATH=/usr/local/bin:/usr/bin:/bin HOME="$second" \
  TZ=Asia/Tokyo LC_ALL="$other_locale" bash -c 'umask 077 && exec "$@"' umask

archive=$third/biegacz-source
mkdir "$archive"
git archive --format=tar HEAD | tar -x -C "$archive"
echo "third build: from \`git archive HEAD\` (no .git), in $archive, as $(id -un)"
build_copy "$archive" env -u SOURCE_DATE_EPOCH

for reason in ${not_varied[@]+"${not_varied[@]}"}; do
  echo "not varied: $reason"
done

sha() { sha256sum <"$1" | cut -d' ' -f1; }
# Says how a copy's file differs from the first build's.
explain() {
  local file=$1 other=$2 label=$3
  echo "differs: $file in the $label build ($(sha "$file"), there $(sha "$other"))"
  case $file in *.tar.gz | *.zip) ;; *) return ;; esac
  local first_list other_list i
  mapfile -t first_list < <(python3 packaging/archives.py list "$file")
  mapfile -t other_list < <(python3 packaging/archives.py list "$other")
  for ((i = 0; i < ${#first_list[@]} || i < ${#other_list[@]}; i++)); do
    if [ "${first_list[i]-}" != "${other_list[i]-}" ]; then
      echo "  first entry that differs: ${first_list[i]-(none)}"
      echo "                     there: ${other_list[i]-(none)}"
      break
    fi
  done
  [ "$i" -lt "${#first_list[@]}" ] || [ "$i" -lt "${#other_list[@]}" ] ||
    echo "  every entry agrees: the archive's own headers or compression differ"
  echo "  order, mode, owner, time, size, content, name; first build:"
  printf '    %s\n' "${first_list[@]}"
  echo "  $label build:"
  printf '    %s\n' "${other_list[@]}"
}

differ=()
for file in "${files[@]}"; do
  same=yes
  for copy in "$clone:second" "$archive:third"; do
    if ! cmp -s "$file" "${copy%:*}/$file"; then
      explain "$file" "${copy%:*}/$file" "${copy##*:}"
      same=no
    fi
  done
  if [ $same = yes ]; then echo "$(sha "$file")  $file"; else differ+=("$file"); fi
done
if [ ${#differ[@]} -gt 0 ]; then
  echo "${0##*/}: not reproducible: ${differ[*]}" >&2
  exit 1
fi
echo "reproducible: ${#files[@]} files, the same bytes from all three builds"
