#!/bin/sh
# Starts or stops the one wine session that a Windows build folder's tests
# run in, so that each test pays for its own program only:
#   wine_session.sh start LOG | stop
# in the tests' wine environment (WINEPREFIX, WINELOADER, WINESERVER...).
#
# Without a session, the first wine process of each test starts a wine server
# and wine's helper processes (services, device manager, desktop), which hold
# the test's standard error open until the server lingers out, seconds later,
# and may write their own complaints into it. `start` makes the prefix where
# it is missing and starts the server and the helpers once, their output going
# to LOG; every test then connects to them. The server ends by itself 60 s
# after its last client, in case the run is killed halfway. `stop` ends the
# server and every process of the prefix, and fails naming any still running
# five seconds later.
set -u
# The prefix's processes are found by WINEPREFIX in their environment, so this
# script runs without it, and passes it to wine's own commands alone.
[ -z "${WINEPREFIX-}" ] || exec env -u WINEPREFIX SESSION_PREFIX="$WINEPREFIX" sh "$0" "$@"
wine() { env WINEPREFIX="$SESSION_PREFIX" "$@"; }

stop() {
  # Either fails where no server runs; the processes left are the verdict.
  wine "$WINESERVER" -k 2>/dev/null
  wine "$WINESERVER" -w 2>/dev/null
  for _ in $(seq 50); do
    # grep's status is 2 where a process went away meanwhile: its list decides.
    left=$(grep -lsxzF "WINEPREFIX=$SESSION_PREFIX" /proc/[0-9]*/environ)
    [ -n "$left" ] || return 0
    sleep 0.1
  done
  for environ in $left; do
    echo "left running: $(echo "$environ" | cut -d/ -f3) $(tr '\0' ' ' <"${environ%environ}cmdline")"
  done
  return 1
}

case "${1-}:$#" in
  start:2)
    mkdir -p "$SESSION_PREFIX" # the server will not start without it
    stop >/dev/null # what an earlier, killed run may have left, helpers writing to its streams
    { wine "$WINESERVER" -p60 && wine "$WINELOADER" wineboot --init; } </dev/null >"$2" 2>&1 || exit 1
    echo "wine session up for $SESSION_PREFIX; its own output goes to $2" ;;
  stop:1) stop ;;
  *) echo "usage: wine_session.sh start LOG | stop" >&2; exit 2 ;;
esac
