#!/usr/bin/env bash
# Tries the last commit on a fresh Debian 12 machine: a minimal root made by
# debootstrap from the mirror this machine's apt uses, entered with chroot in
# a private mount namespace, so that its /proc, /dev, /sys and /tmp mounts end
# with it. Its /tmp is a tmpfs, as on many a user's machine.
#
#   scripts/fresh_machine.sh            the README's two commands, as a newcomer
#   scripts/fresh_machine.sh 'COMMAND'  COMMAND as root in the fresh clone,
#                                       e.g. 'CI=true bash .ci/run'
#
# Without a command, it does what the README says, line for line, on a root
# whose package lists are empty, as a container's are: each
# `apt-get update && apt-get install ...` line there is run as root, as it
# stands, and the command below it as an ordinary user. The run command gets
# the example's answers and must write the example's bytes; the test command
# must succeed.
#
# Needs root. Where debootstrap or the mirror cannot be reached, it says so
# and exits 0: skipped, not passed.
set -euo pipefail
cd "$(dirname "$0")/.."
here=$PWD

skip() {
  echo "fresh machine: skipped: $*"
  exit 0
}
[ "$(id -u)" = 0 ] || skip "chroot and a private mount namespace need root"
command -v debootstrap >/dev/null || skip "no debootstrap here (apt-get install debootstrap)"

# The first bookworm mirror of this machine's apt sources, deb822 or one-line.
shopt -s nullglob
deb822=(/etc/apt/sources.list.d/*.sources)
one_line=(/etc/apt/sources.list /etc/apt/sources.list.d/*.list)
mirrors=$({
  [ ${#deb822[@]} = 0 ] || awk -v RS= '
    /(^|\n)Types:[^\n]*[ \t]deb([ \t\n]|$)/ && /(^|\n)Suites:[^\n]*[ \t]bookworm([ \t\n]|$)/ {
      match($0, /(^|\n)URIs:[ \t]*[^ \t\n]+/)
      uri = substr($0, RSTART, RLENGTH); sub(/^\n?URIs:[ \t]*/, "", uri); print uri }' "${deb822[@]}"
  { cat "${one_line[@]}" 2>/dev/null || true; } | sed -E 's/\[[^]]*\]//' |
    awk '$1 == "deb" && $3 == "bookworm" { print $2 }'
})
mirror=${mirrors%%$'\n'*}
[ -n "$mirror" ] || skip "no bookworm mirror in this machine's apt sources"
wget -q --tries=1 --timeout=30 -O /dev/null "$mirror/dists/bookworm/Release" ||
  skip "the mirror $mirror cannot be reached"

work=$here/out/fresh-machine
root=$work/root
# A root is deleted only when nothing is mounted in it.
mounted_in_root() { awk -v r="$root" '$5 == r || index($5, r "/") == 1' /proc/self/mountinfo; }
if [ -n "$(mounted_in_root)" ]; then
  echo "fresh machine: $root still has mounts; leaving it alone" >&2
  exit 1
fi
rm -rf "$work"
mkdir -p "$work"

commit=$(git rev-parse HEAD)
echo "fresh machine: Debian 12 from $mirror, commit $commit"
debootstrap --variant=minbase bookworm "$root" "$mirror" >"$work/debootstrap.log" 2>&1 || {
  tail -n 20 "$work/debootstrap.log"
  exit 1
}
cp /etc/resolv.conf "$root/etc/resolv.conf"
# apt-get as typed from the README, which a person would answer with yes.
echo 'APT::Get::Assume-Yes "true";' >"$root/etc/apt/apt.conf.d/90yes"
chroot "$root" useradd --create-home newcomer
git clone --quiet --no-hardlinks "$here" "$root/home/newcomer/biegacz"
git -C "$root/home/newcomer/biegacz" checkout --quiet --detach "$commit"

# Runs a bash script in the root, as root or, with --newcomer, as the user,
# in the clone, with a plain environment and nothing on standard input.
in_root() {
  local as=() home=/root
  if [ "$1" = --newcomer ]; then
    as=(setpriv --reuid=newcomer --regid=newcomer --clear-groups)
    home=/home/newcomer
    shift
  fi
  # No mount made here may reach the outer system: all become private. In a
  # chroot, where / is no mount point, that cannot be asked for, and is only
  # safe where the mounts in sight are private already (as in a fresh root).
  unshare --mount --propagation unchanged -- bash -c '
    root=$1
    shift
    if ! mount --make-rprivate / 2>/dev/null && grep -q " shared:" /proc/self/mountinfo; then
      echo "fresh machine: cannot keep its mounts from the outer system" >&2
      exit 1
    fi
    mount -t proc proc "$root/proc"
    mount --rbind /dev "$root/dev"
    mount -t sysfs -o ro sysfs "$root/sys"
    # /tmp in memory, as Debian 13 and many other systems have it.
    mount -t tmpfs -o mode=1777,nosuid,nodev tmpfs "$root/tmp"
    exec chroot "$root" "$@"' fresh "$root" "${as[@]}" /usr/bin/env -i \
    PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
    HOME=$home \
    DEBIAN_FRONTEND=noninteractive \
    bash -c "cd /home/newcomer/biegacz && $1" </dev/null
}

# The root is large; once a check has passed, it goes.
remove_root() {
  if [ -z "$(mounted_in_root)" ]; then rm -rf "$root"; fi
}

if [ $# -gt 0 ]; then
  echo "fresh machine: $1"
  in_root "$1"
  echo "fresh machine: '$1' passed"
  remove_root
  exit 0
fi

# The README's pairs: an install line, then the command it is for.
mapfile -t lines < <(grep -A1 -E '^    apt-get update && apt-get install ' README.md |
  grep -E '^    [^ ]' | sed 's/^    //')
[ "${#lines[@]}" = 4 ] || {
  echo "fresh machine: README.md should give two install lines, each followed by its command" >&2
  exit 1
}
chroot "$root" chown -R newcomer:newcomer /home/newcomer/biegacz
in_root "rm -rf /var/lib/apt/lists/*"
example=tests/transcripts/example
for i in 0 2; do
  install=${lines[$i]} command=${lines[$((i + 1))]}
  echo "fresh machine: $install"
  in_root "{ $install; } >/dev/null"
  echo "fresh machine: $command"
  if [ "$i" = 0 ]; then
    in_root --newcomer "$command <$example.in" >"$work/run.out"
    cmp "$work/run.out" "$example.out"
    echo "fresh machine: it wrote the example's bytes"
  else
    in_root --newcomer "$command" >"$work/test.log" 2>&1 || {
      tail -n 30 "$work/test.log"
      exit 1
    }
    grep -E '^[0-9]+% tests passed' "$work/test.log"
  fi
done
echo "fresh machine: both README commands work"
remove_root
