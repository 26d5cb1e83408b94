#!/usr/bin/env bash
# A fresh Debian 12 that mmdebstrap makes from this machine's apt sources and
# throws away: /tmp a tmpfs, package lists empty, the host's /dev/fuse bound in.
#   scripts/fresh_machine.sh            the README's two install lines, each in a root
#                                       of its own, then the command below it as a user
#   scripts/fresh_machine.sh [--i386] [--with 'PACKAGE...'] --here DIR 'COMMAND'
#       COMMAND as root in DIR itself, bound in at the same path, with PACKAGEs
#       installed, e.g. 'CI=true bash .ci/run' in a clone; --i386 adds that
#       architecture and takes the one suite bookworm alone, whose i386 and
#       amd64 lists agree.
# The run command must write the example's bytes, the test command pass.
# Where it cannot run here (not root, no mmdebstrap) it says why and exits 77;
# else it gives COMMAND's status, or fails where mmdebstrap does.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd) example=$here/tests/transcripts/example

if [ "${1-}" != --in-root ]; then
  skip() { echo "fresh machine: skipped: $*"; exit 77; }
  [ "$(id -u)" = 0 ] || skip "mmdebstrap's root mode needs root"
  command -v mmdebstrap >/dev/null || skip "no mmdebstrap here (Debian: apt-get install mmdebstrap)"
  options=() bind=
  while [[ ${1-} == --* ]]; do
    case $1 in
      --i386) options+=("--architectures=amd64,i386"); shift
        mirror=$(apt-get indextargets --format '$(REPO_URI)' 'Release: bookworm' 'Created-By: Packages' | head -1)
        [ -n "$mirror" ] || { echo "fresh machine: no bookworm in this machine's package lists (apt-get update)" >&2; exit 1; } ;;
      --with) options+=(--include="${2// /,}"); shift 2 ;;
      --here) bind=$(cd "$2" && pwd); shift 2 ;;
      *) echo "fresh machine: what is $1?" >&2; exit 1 ;;
    esac
  done
  # This machine's own apt sources; with none, mmdebstrap takes Debian's.
  mapfile -t sources < <(find /etc/apt/sources.list /etc/apt/sources.list.d -maxdepth 1 -size +0 \
    \( -name '*.sources' -o -name '*.list' \) 2>/dev/null)
  [ -z "${mirror-}" ] || sources=("$mirror")
  status=$(mktemp)
  trap 'rm -f "$status" "$status.args"' EXIT
  # One root a command: the README's install lines each get their own.
  run() {
    echo "fresh machine: Debian 12 from ${sources[*]-Debian}, commit $(git -C "$here" rev-parse HEAD)"
    echo 1 >"$status" && printf '%s\0' "$@" >"$status.args" # for the hook, which mmdebstrap's sh calls
    # Private mounts, so that what a hook mounts ends with it; in a chroot, where / is no mount point, only none shared.
    unshare --mount --propagation unchanged -- bash -c 'mount --make-rprivate / 2>/dev/null ||
      ! grep -q " shared:" /proc/self/mountinfo || { echo "fresh machine: its mounts would reach the host" >&2; exit 1; }
      exec "$@"' - mmdebstrap --quiet --mode=root --variant=minbase "${options[@]}" \
      --customize-hook="\"$here/scripts/fresh_machine.sh\" --in-root \"\$1\" $status" \
      bookworm /dev/null ${sources[@]+"${sources[@]}"} || { echo "fresh machine: mmdebstrap failed" >&2; return 1; }
    return "$(cat "$status")"
  }
  [ $# = 0 ] || { [ -n "$bind" ] || { echo "fresh machine: COMMAND needs --here DIR" >&2; exit 2; }; run command "$1" "$bind"; exit; }
  run readme 0 && run readme 2
  exit
fi

root=$2 status=$3 # from here on, inside mmdebstrap's customize hook
mapfile -d '' -t args <"$status.args"
set -- "${args[@]}"
mode=$1
mount -t tmpfs -o mode=1777,nosuid,nodev tmpfs "$root/tmp"
# FUSE too, for the reproducibility check's disorderfs.
[ ! -e /dev/fuse ] || { touch "$root/dev/fuse" && mount --bind /dev/fuse "$root/dev/fuse"; }
# On the way out, whatever the command left running in the root is ended, and
# the mounts go, lazily where something still holds one: mmdebstrap then
# removes the root, which must never reach into DIR through its bind mount.
leave() {
  local real && real=$(readlink -f "$root")
  for proc in /proc/[0-9]*; do
    [ "$(readlink "$proc/root" 2>/dev/null)" != "$real" ] || kill -KILL "${proc#/proc/}" 2>/dev/null || true
  done
  for mount in ${bind:+"$root$bind"} "$root/tmp" "$root/dev/fuse"; do
    ! mountpoint -q "$mount" || umount "$mount" 2>/dev/null || umount --lazy "$mount"
  done
}
trap 'echo $? >"$status"; leave; exit 0' EXIT
rm -rf "$root"/var/lib/apt/lists/*
echo 'APT::Get::Assume-Yes "true";' >"$root/etc/apt/apt.conf.d/90yes" # the README's apt-get, answered
chroot "$root" useradd --create-home newcomer
clone=/home/newcomer/biegacz
if [ "$mode" = command ]; then
  bind=$3 clone=$3
  mkdir -p "$root$bind" && mount --bind "$bind" "$root$bind"
else
  git clone --quiet --no-hardlinks "$here" "$root$clone"
fi

# Runs a line in the clone with a plain environment, as root or the user.
in_root() {
  local as=() home=/root
  [ "$1" != --newcomer ] || { as=(setpriv --reuid=newcomer --regid=newcomer --clear-groups) home=/home/newcomer; shift; }
  chroot "$root" "${as[@]}" /usr/bin/env -i HOME=$home DEBIAN_FRONTEND=noninteractive \
    PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin bash -c "cd $(printf %q "$clone") && $1"
}
[ "$mode" != command ] || { echo "fresh machine: $2"; in_root "$2" </dev/null; exit; }
chroot "$root" chown -R newcomer:newcomer "$clone"
# The README's pairs: an install line, then the command it is for.
mapfile -t lines < <(grep -A1 -E '^    apt-get update && apt-get install ' "$here/README.md" |
  grep -E '^    [^ ]' | sed 's/^    //')
[ ${#lines[@]} = 4 ] || { echo "README.md should give two install lines, each with its command" >&2; exit 1; }
install=${lines[$2]} command=${lines[$2 + 1]}
in_root "$install" </dev/null >/dev/null
if [ "$2" = 0 ]; then
  in_root --newcomer "$command" <"$example.in" | cmp - "$example.out"
  echo "fresh machine: after '$install' as root, '$command' wrote the example's bytes"
else
  in_root --newcomer "$command" </dev/null >"$root/tmp/log" 2>&1 || { tail -n 30 "$root/tmp/log"; exit 1; }
  echo "fresh machine: after '$install' as root, '$command': $(grep -E '^[0-9]+% tests passed' "$root/tmp/log")"
fi
