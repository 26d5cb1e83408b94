"""Starts or stops the one wine session that a Windows build folder's tests
run in, so that each test pays for its own program only.

Usage: wine_session.py start LOG | stop

Run in the tests' wine environment (WINEPREFIX, WINELOADER, WINESERVER...).

Without a session, the first wine process of each test starts a wine server
and wine's helper processes (services, device manager, desktop), which hold
the test's standard error open until the server lingers out, seconds later,
and may write their own complaints into it. `start` makes the prefix where it
is missing and starts the server and the helpers once, their standard streams
going to LOG; every test then connects to them. The server stays up while the
tests come and go, and ends by itself IDLE seconds after the last one in case
the run is killed halfway. `stop` ends the server and every process of the
prefix, and checks that none is left.
"""
import os
import subprocess
import sys
import time
from pathlib import Path

IDLE = 60
PREFIX = os.environ["WINEPREFIX"]
SERVER = os.environ["WINESERVER"]
LOADER = os.environ["WINELOADER"]


def processes_of_prefix():
    """The live processes that run with this prefix, but this one, as (pid,
    command) pairs."""
    mark = f"WINEPREFIX={PREFIX}".encode()
    found = []
    for proc in Path("/proc").glob("[0-9]*"):
        if proc.name == str(os.getpid()):
            continue
        try:
            if mark in (proc / "environ").read_bytes().split(b"\0"):
                found.append((proc.name, (proc / "cmdline").read_bytes().replace(b"\0", b" ")))
        except OSError:  # gone meanwhile, or not ours
            pass
    return found


def stop():
    # Either fails where no server runs; the processes left are the verdict.
    for option in ("-k", "-w"):
        subprocess.run([SERVER, option], check=False, stderr=subprocess.DEVNULL)
    deadline = time.monotonic() + 5
    while (left := processes_of_prefix()) and time.monotonic() < deadline:
        time.sleep(0.1)
    for pid, command in left:
        print(f"left running: {pid} {command.decode(errors='replace')}")
    return 1 if left else 0


def start(log_path):
    os.makedirs(PREFIX, exist_ok=True)  # the server will not start without it
    stop()  # what an earlier, killed run may have left, helpers writing to its streams
    with open(log_path, "wb") as log:
        def run(*command):
            subprocess.run(command, check=True, stdin=subprocess.DEVNULL, stdout=log, stderr=log)
        run(SERVER, f"-p{IDLE}")
        run(LOADER, "wineboot", "--init")
    print(f"wine session up for {PREFIX}; its own output goes to {log_path}")
    return 0


if __name__ == "__main__":
    if sys.argv[1:2] == ["start"] and len(sys.argv) == 3:
        sys.exit(start(sys.argv[2]))
    if sys.argv[1:] == ["stop"]:
        sys.exit(stop())
    sys.exit(__doc__)
