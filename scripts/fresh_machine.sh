#!/usr/bin/env bash
# A fresh Debian 12 that mmdebstrap makes from this machine's apt sources and
# throws away: /tmp a tmpfs, package lists empty, the host's /dev/fuse bound in.
#   scripts/fresh_machine.sh            the README's two install lines, each in a root
#                                       of its own, then the command below it as a user
#   scripts/fresh_machine.sh [--i386] [--with 'PACKAGE...'] --here DIR 'COMMAND'
#       COMMAND as root in DIR itself, bound in at the same path, with PACKAGEs
#       installed; --i386 adds that architecture and takes the one suite
#       bookworm alone, whose i386 and amd64 lists agree.
# The run command must write the example's bytes, the test command pass.
# Where it cannot run here (not root, no mmdebstrap) it says why and exits 77;
# else it gives COMMAND's status, or fails where mmdebstrap does.
# mmdebstrap runs this script again in each root it makes, as its customize
# hook: fresh_machine.sh --in-root ROOT STATUS.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd) example=$here/tests/transcripts/example
die() { echo "fresh machine: $*" >&2; exit 1; }
skip() { echo "fresh machine: skipped: $*"; exit 77; }

# One root, whose hook is given these arguments; the status of what ran there.
run() {
  echo "fresh machine: Debian 12 from ${sources[*]-Debian}, commit $(git -C "$here" rev-parse HEAD)"
  echo 1 >"$status" && printf '%s\0' "$@" >"$status.args" # for the hook, which mmdebstrap's sh calls
  # Private mounts, so that what a hook mounts ends with it; in a chroot,
  # where / is no mount point, only where none is shared.
  unshare --mount --propagation unchanged -- bash -c 'mount --make-rprivate / 2>/dev/null ||
    ! grep -q " shared:" /proc/self/mountinfo || { echo "fresh machine: its mounts would reach the host" >&2; exit 1; }
    exec "$@"' - mmdebstrap --quiet --mode=root --variant=minbase "${options[@]}" \
    --customize-hook="\"$here/scripts/fresh_machine.sh\" --in-root \"\$1\" $status" \
    bookworm /dev/null ${sources[@]+"${sources[@]}"} || die "mmdebstrap failed"
  return "$(cat "$status")"
}

on_host() {
  [ "$(id -u)" = 0 ] || skip "mmdebstrap's root mode needs root"
  command -v mmdebstrap >/dev/null || skip "no mmdebstrap here (Debian: apt-get install mmdebstrap)"
  # This machine's own apt sources; with none, mmdebstrap takes Debian's.
  mapfile -t sources < <(find /etc/apt/sources.list /etc/apt/sources.list.d -maxdepth 1 -size +0 \
    \( -name '*.sources' -o -name '*.list' \) 2>/dev/null)
  options=() bind=
  while [[ ${1-} == --* ]]; do
    case $1 in
      --i386) options+=("--architectures=amd64,i386") && shift
        sources=("$(apt-get indextargets --format '$(REPO_URI)' 'Release: bookworm' 'Created-By: Packages' | head -1)")
        [ -n "${sources[0]}" ] || die "no bookworm in this machine's package lists (apt-get update)" ;;
      --with) options+=(--include="${2// /,}") && shift 2 ;;
      --here) bind=$(cd "$2" && pwd) && shift 2 ;;
      *) die "what is $1?" ;;
    esac
  done
  status=$(mktemp)
  trap 'rm -f "$status" "$status.args"' EXIT
  [ $# = 0 ] || [ -n "$bind" ] || die "COMMAND needs --here DIR"
  if [ $# = 0 ]; then run readme 0 && run readme 2; else run command "$1" "$bind"; fi
}

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

# Runs a line in the clone with a plain environment, as root, or as the user after --newcomer.
in_root() {
  local as=() home=/root path=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin
  [ "$1" != --newcomer ] ||
    { as=(setpriv --reuid=newcomer --regid=newcomer --clear-groups) home=/home/newcomer; shift; }
  chroot "$root" "${as[@]}" /usr/bin/env -i HOME=$home DEBIAN_FRONTEND=noninteractive PATH=$path \
    bash -c "cd $(printf %q "$clone") && $1"
}

# The README's install line N as root, then the command below it as the user, in a clone of the user's.
readme_pair() {
  local lines install command log=$root/tmp/log
  git clone --quiet --no-hardlinks "$here" "$root$clone"
  chroot "$root" chown -R newcomer:newcomer "$clone"
  mapfile -t lines < <(grep -A1 -E '^    apt-get update && apt-get install ' "$here/README.md" |
    grep -E '^    [^ ]' | sed 's/^    //')
  [ ${#lines[@]} = 4 ] || die "README.md should give two install lines, each with its command"
  install=${lines[$1]} command=${lines[$1 + 1]}
  in_root "$install" </dev/null >/dev/null
  if [ "$1" = 0 ]; then
    in_root --newcomer "$command" <"$example.in" | cmp - "$example.out"
    echo "fresh machine: after '$install' as root, '$command' wrote the example's bytes"
  else
    in_root --newcomer "$command" </dev/null >"$log" 2>&1 || { tail -n 30 "$log"; exit 1; }
    echo "fresh machine: after '$install' as root, '$command': $(grep -E '^[0-9]+% tests passed' "$log")"
  fi
}

# The hook: a tmpfs /tmp, FUSE for the reproducibility check's disorderfs,
# empty package lists, apt-get's questions answered and a user, then the job.
in_hook() {
  root=$1 status=$2 clone=/home/newcomer/biegacz bind=
  mapfile -d '' -t args <"$status.args"
  trap 'echo $? >"$status"; leave; exit 0' EXIT
  mount -t tmpfs -o mode=1777,nosuid,nodev tmpfs "$root/tmp"
  [ ! -e /dev/fuse ] || { touch "$root/dev/fuse" && mount --bind /dev/fuse "$root/dev/fuse"; }
  rm -rf "$root"/var/lib/apt/lists/*
  echo 'APT::Get::Assume-Yes "true";' >"$root/etc/apt/apt.conf.d/90yes"
  chroot "$root" useradd --create-home newcomer
  [ "${args[0]}" = command ] || { readme_pair "${args[1]}"; exit; }
  bind=${args[2]} clone=${args[2]}
  mkdir -p "$root$bind" && mount --bind "$bind" "$root$bind"
  echo "fresh machine: ${args[1]}"
  in_root "${args[1]}" </dev/null
}

if [ "${1-}" = --in-root ]; then in_hook "$2" "$3"; else on_host "$@"; fi
