#!/usr/bin/env bash
# A fresh Debian that mmdebstrap makes and throws away: /tmp a tmpfs, package
# lists empty, the host's /dev/fuse bound in.
#   scripts/fresh_machine.sh            the README's two install lines, each in a root
#                                       of its own, then the command below it as a user:
#                                       on Debian 12 from this machine's apt sources,
#                                       then on Debian 13 from Debian's default mirror
#   scripts/fresh_machine.sh [--i386] [--with 'PACKAGE...'] --here DIR 'COMMAND'
#       COMMAND as root in DIR itself, bound in at the same path, in a Debian 12
#       with PACKAGEs installed; --i386 adds that architecture and takes the one
#       suite bookworm alone, whose i386 and amd64 lists agree.
# The run command must write the example's bytes, the test command pass.
# Where it cannot run here (not root, no mmdebstrap) it says why and exits 77;
# else it gives COMMAND's status, or fails where mmdebstrap does.
# mmdebstrap runs this script again in each root it makes, as its customize
# hook: fresh_machine.sh --in-root ROOT STATUS, which runs the job as
# fresh_machine.sh --in-namespace ROOT SUITE JOB....
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd) example=$here/tests/transcripts/example
die() { echo "fresh machine: $*" >&2; exit 1; }
skip() { echo "fresh machine: skipped: $*"; exit 77; }

# One root of the suite given, whose hook is given the other arguments; the
# status of what ran there. The hook finds itself and its status file in the
# environment, which mmdebstrap hands on, so no path is parsed by its shell.
run() {
  local suite=$1 from=${sources[*]-} && shift
  echo "fresh machine: Debian $suite from ${from:-the default mirror}, commit $(git -C "$here" rev-parse HEAD): $*"
  echo 1 >"$status" && printf '%s\0' "$suite" "$@" >"$status.args"
  # Private mounts, so that mmdebstrap's end with it: unshare makes every mount
  # private, and fails where it cannot, in a chroot whose / is no mount point
  # (this script's own roots are mount points, for a fresh machine made there).
  FRESH_MACHINE=$here/scripts/fresh_machine.sh FRESH_MACHINE_STATUS=$status \
    unshare --mount -- mmdebstrap --quiet --mode=root --variant=minbase "${options[@]}" \
    --customize-hook='"$FRESH_MACHINE" --in-root "$1" "$FRESH_MACHINE_STATUS"' \
    "$suite" /dev/null ${sources[@]+"${sources[@]}"} || die "mmdebstrap failed"
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
  [ $# = 0 ] || { run bookworm command "$1" "${bind:?COMMAND needs --here DIR}"; return; }
  run bookworm readme 0 && run bookworm readme 2 || exit # with the status of the line that failed
  sources=() # Debian 13 as mmdebstrap takes it given no sources: from Debian's default mirror
  run trixie readme 0 && run trixie readme 2 || exit
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
    in_root "cat out/release/junit.xml" | install -D /dev/stdin "$here/out/junit/fresh-machine-$suite.xml" # CI's tally
  fi
}

# The hook: empty package lists, apt-get's questions answered and a user,
# then the job, in a mount and PID namespace of its own that ends with it and
# is killed with the hook, however the hook ends.
in_hook() {
  root=$1 status=$2 # global, for the trap
  mapfile -d '' -t args <"$status.args"
  trap 'echo $? >"$status"; exit 0' EXIT # mmdebstrap goes on, and run() gives the status
  rm -rf "$root"/var/lib/apt/lists/*
  echo 'APT::Get::Assume-Yes "true";' >"$root/etc/apt/apt.conf.d/90yes"
  chroot "$root" useradd --create-home newcomer
  grep -qx "VERSION_CODENAME=${args[0]}" "$root/etc/os-release" || die "the apt sources gave no ${args[0]}"
  setpriv --pdeathsig KILL -- unshare --mount --pid --fork --kill-child -- \
    "$0" --in-namespace "$root" "${args[@]}"
}

# The job: its mounts, a tmpfs /tmp, the namespace's own /proc, FUSE for the
# reproducibility check's disorderfs and DIR bound in, exist in its namespace
# alone. So mmdebstrap's removal of the root never meets DIR, and whatever the
# job left running dies with it.
in_namespace() {
  root=$1 suite=$2 clone=${5:-/home/newcomer/biegacz} # DIR, or the README's clone
  mount --rbind "$root" "$root" # / a mount point in the root, for a fresh machine made there
  mount -t tmpfs -o mode=1777,nosuid,nodev tmpfs "$root/tmp"
  mount -t proc proc "$root/proc"
  [ ! -e /dev/fuse ] || { touch "$root/dev/fuse" && mount --bind /dev/fuse "$root/dev/fuse"; }
  [ "$3" = command ] || { readme_pair "$4"; return; }
  mkdir -p "$root$clone" && mount --bind "$clone" "$root$clone"
  in_root "$4" </dev/null
}

case ${1-} in
  --in-root) in_hook "$2" "$3" ;;
  --in-namespace) shift && in_namespace "$@" ;;
  *) on_host "$@" ;;
esac
