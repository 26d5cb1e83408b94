#!/usr/bin/env bash
# The last commit on a fresh Debian 12 that mmdebstrap makes from this
# machine's apt sources and throws away: /tmp a tmpfs, package lists empty.
#   scripts/fresh_machine.sh            the README's two commands, as a newcomer
#   scripts/fresh_machine.sh 'COMMAND'  COMMAND as root in the clone, e.g. 'CI=true bash .ci/run'
# Each README line `apt-get update && apt-get install ...` runs as root, then
# the command below it as a user: the run command must write the example's
# bytes, the test command pass. Where it cannot run, it says why and exits 77.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd) example=$here/tests/transcripts/example

if [ "${1-}" != --in-root ]; then
  skip() { echo "fresh machine: skipped: $*"; exit 77; }
  [ "$(id -u)" = 0 ] || skip "mmdebstrap's root mode needs root"
  command -v mmdebstrap >/dev/null || skip "no mmdebstrap here (apt-get install mmdebstrap)"
  # This machine's own apt sources; with none, mmdebstrap takes Debian's.
  mapfile -t sources < <(find /etc/apt/sources.list /etc/apt/sources.list.d -maxdepth 1 -size +0 \
    \( -name '*.sources' -o -name '*.list' \) 2>/dev/null)
  echo "fresh machine: Debian 12 from ${sources[*]-Debian}, commit $(git -C "$here" rev-parse HEAD)"
  # Private mounts, so that what a hook mounts ends with it; in a chroot, where / is no mount point, only none shared.
  exec unshare --mount --propagation unchanged -- bash -c 'mount --make-rprivate / 2>/dev/null ||
    ! grep -q " shared:" /proc/self/mountinfo || { echo "fresh machine: its mounts would reach the host" >&2; exit 1; }
    exec "$@"' - mmdebstrap --quiet --mode=root --variant=minbase \
    --customize-hook="\"$here/scripts/fresh_machine.sh\" --in-root \"\$1\" $(printf '%q' "${1-}")" \
    bookworm /dev/null ${sources[@]+"${sources[@]}"}
fi

root=$2 command=$3 # from here on, inside mmdebstrap's customize hook
mount -t tmpfs -o mode=1777,nosuid,nodev tmpfs "$root/tmp"
# FUSE too, for the reproducibility check's disorderfs.
[ ! -e /dev/fuse ] || { touch "$root/dev/fuse" && mount --bind /dev/fuse "$root/dev/fuse"; }
trap 'umount "$root/tmp"; ! mountpoint -q "$root/dev/fuse" || umount "$root/dev/fuse"' EXIT
rm -rf "$root"/var/lib/apt/lists/*
echo 'APT::Get::Assume-Yes "true";' >"$root/etc/apt/apt.conf.d/90yes" # the README's apt-get, answered
chroot "$root" useradd --create-home newcomer
clone=/home/newcomer/biegacz
git clone --quiet --no-hardlinks "$here" "$root$clone"

# Runs a line in the clone with a plain environment, as root or the user.
in_root() {
  local as=() home=/root
  [ "$1" != --newcomer ] || { as=(setpriv --reuid=newcomer --regid=newcomer --clear-groups) home=/home/newcomer; shift; }
  chroot "$root" "${as[@]}" /usr/bin/env -i HOME=$home DEBIAN_FRONTEND=noninteractive \
    PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin bash -c "cd $clone && $1"
}
[ -z "$command" ] || { echo "fresh machine: $command"; in_root "$command" </dev/null; exit; }
chroot "$root" chown -R newcomer:newcomer $clone
# The README's pairs: an install line, then the command it is for.
mapfile -t lines < <(grep -A1 -E '^    apt-get update && apt-get install ' "$here/README.md" |
  grep -E '^    [^ ]' | sed 's/^    //')
[ ${#lines[@]} = 4 ] || { echo "README.md should give two install lines, each with its command" >&2; exit 1; }
# Each install line just before its command, so that neither hides what the other lacks.
in_root "${lines[0]}" </dev/null >/dev/null
in_root --newcomer "${lines[1]}" <"$example.in" | cmp - "$example.out"
echo "fresh machine: after '${lines[0]}' as root, '${lines[1]}' wrote the example's bytes"
in_root "${lines[2]}" </dev/null >/dev/null
in_root --newcomer "${lines[3]}" </dev/null >"$root/tmp/log" 2>&1 || { tail -n 30 "$root/tmp/log"; exit 1; }
echo "fresh machine: after '${lines[2]}' as root, '${lines[3]}': $(grep -E '^[0-9]+% tests passed' "$root/tmp/log")"
