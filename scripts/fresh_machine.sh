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
# mmdebstrap calls this script again inside each root, as its customize hook,
# with --in-root ROOT STATUS.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
example=$here/tests/transcripts/example

# --- On the host --------------------------------------------------------------

skip() {
  echo "fresh machine: skipped: $*"
  exit 77
}

# This machine's own apt sources; with none, mmdebstrap takes Debian's.
host_sources() {
  find /etc/apt/sources.list /etc/apt/sources.list.d -maxdepth 1 -size +0 \
    \( -name '*.sources' -o -name '*.list' \) 2>/dev/null || true
}

# --i386: that architecture too, from the mirror of bookworm in this machine's package lists.
use_i386() {
  local mirror
  options+=("--architectures=amd64,i386")
  mirror=$(apt-get indextargets --format '$(REPO_URI)' 'Release: bookworm' 'Created-By: Packages' | head -1)
  if [ -z "$mirror" ]; then
    echo "fresh machine: no bookworm in this machine's package lists (apt-get update)" >&2
    exit 1
  fi
  sources=("$mirror")
}

# Runs its arguments with mounts of their own, so that what the hook mounts ends
# with it; in a chroot, where / is no mount point, only where none is shared.
private_mounts='
mount --make-rprivate / 2>/dev/null || ! grep -q " shared:" /proc/self/mountinfo ||
  { echo "fresh machine: its mounts would reach the host" >&2; exit 1; }
exec "$@"'

# One root, for the hook's arguments given; the status of what ran inside.
run() {
  echo "fresh machine: Debian 12 from ${sources[*]-Debian}, commit $(git -C "$here" rev-parse HEAD)"
  echo 1 >"$status"
  printf '%s\0' "$@" >"$status.args" # for the hook, which mmdebstrap's sh calls
  if ! unshare --mount --propagation unchanged -- bash -c "$private_mounts" - \
    mmdebstrap --quiet --mode=root --variant=minbase "${options[@]}" \
    --customize-hook="\"$here/scripts/fresh_machine.sh\" --in-root \"\$1\" $status" \
    bookworm /dev/null ${sources[@]+"${sources[@]}"}; then
    echo "fresh machine: mmdebstrap failed" >&2
    return 1
  fi
  return "$(cat "$status")"
}

on_host() {
  [ "$(id -u)" = 0 ] || skip "mmdebstrap's root mode needs root"
  command -v mmdebstrap >/dev/null || skip "no mmdebstrap here (Debian: apt-get install mmdebstrap)"
  options=() bind=
  mapfile -t sources < <(host_sources)
  while [[ ${1-} == --* ]]; do
    case $1 in
      --i386) use_i386; shift ;;
      --with) options+=(--include="${2// /,}"); shift 2 ;;
      --here) bind=$(cd "$2" && pwd); shift 2 ;;
      *) echo "fresh machine: what is $1?" >&2; exit 1 ;;
    esac
  done
  status=$(mktemp)
  trap 'rm -f "$status" "$status.args"' EXIT
  if [ $# = 0 ]; then
    run readme 0 && run readme 2
  elif [ -n "$bind" ]; then
    run command "$1" "$bind"
  else
    echo "fresh machine: COMMAND needs --here DIR" >&2
    exit 2
  fi
}

# --- Inside mmdebstrap's customize hook ---------------------------------------

# On the way out, whatever the command left running in the root is ended, and
# the mounts go, lazily where something still holds one: mmdebstrap then
# removes the root, which must never reach into DIR through its bind mount.
leave() {
  local real proc mount
  real=$(readlink -f "$root")
  for proc in /proc/[0-9]*; do
    [ "$(readlink "$proc/root" 2>/dev/null)" != "$real" ] || kill -KILL "${proc#/proc/}" 2>/dev/null || true
  done
  for mount in ${bind:+"$root$bind"} "$root/tmp" "$root/dev/fuse"; do
    ! mountpoint -q "$mount" || umount "$mount" 2>/dev/null || umount --lazy "$mount"
  done
}

# /tmp a tmpfs; FUSE too, for the reproducibility check's disorderfs; package
# lists empty, apt-get's questions answered, and a user to run the README's commands.
prepare_root() {
  mount -t tmpfs -o mode=1777,nosuid,nodev tmpfs "$root/tmp"
  if [ -e /dev/fuse ]; then
    touch "$root/dev/fuse"
    mount --bind /dev/fuse "$root/dev/fuse"
  fi
  rm -rf "$root"/var/lib/apt/lists/*
  echo 'APT::Get::Assume-Yes "true";' >"$root/etc/apt/apt.conf.d/90yes"
  chroot "$root" useradd --create-home newcomer
}

# Runs a line in the clone with a plain environment, as root or, after --newcomer, the user.
in_root() {
  local as=() home=/root path=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin
  if [ "$1" = --newcomer ]; then
    as=(setpriv --reuid=newcomer --regid=newcomer --clear-groups)
    home=/home/newcomer
    shift
  fi
  chroot "$root" "${as[@]}" /usr/bin/env -i HOME=$home DEBIAN_FRONTEND=noninteractive PATH=$path \
    bash -c "cd $(printf %q "$clone") && $1"
}

# README.md's indented install lines, each with the indented line below it.
readme_lines() {
  grep -A1 -E '^    apt-get update && apt-get install ' "$here/README.md" | grep -E '^    [^ ]' | sed 's/^    //'
}

# The README's install line N as root in a clone of its own, then the command below it as the user.
readme_pair() {
  local lines install command log=$root/tmp/log
  clone=/home/newcomer/biegacz
  git clone --quiet --no-hardlinks "$here" "$root$clone"
  chroot "$root" chown -R newcomer:newcomer "$clone"
  mapfile -t lines < <(readme_lines)
  if [ ${#lines[@]} != 4 ]; then
    echo "README.md should give two install lines, each with its command" >&2
    exit 1
  fi
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

# COMMAND as root in DIR, bound in at the same path.
command_in_dir() {
  bind=$2 clone=$2
  mkdir -p "$root$bind"
  mount --bind "$bind" "$root$bind"
  echo "fresh machine: $1"
  in_root "$1" </dev/null
}

# ROOT is the root, STATUS the host's file for the result and, beside it, the hook's arguments.
in_hook() {
  local args
  root=$1 status=$2 bind=
  mapfile -d '' -t args <"$status.args"
  trap 'echo $? >"$status"; leave; exit 0' EXIT
  prepare_root
  case ${args[0]} in
    readme) readme_pair "${args[1]}" ;;
    command) command_in_dir "${args[1]}" "${args[2]}" ;;
  esac
}

if [ "${1-}" = --in-root ]; then
  in_hook "$2" "$3"
else
  on_host "$@"
fi
