# The README's examples must show what the program really does: the piped
# example's answers are example.in and its block of bytes is example.out; the
# terminal session, replayed on a pseudo-terminal with the same answers typed
# at the prompts, shows exactly the session's screen (prompts, the echo of the
# typing and the cards).
#
# Usage: readme_test.py [EMULATOR...] PROGRAM
import os
import pty
import re
import select
import subprocess
import sys
from pathlib import Path

transcripts = Path(__file__).parent / "transcripts"
readme = (transcripts.parent.parent / "README.md").read_text(encoding="utf-8")
example_in = (transcripts / "example.in").read_bytes()
problems = []

piped = re.search(r"^    printf '([^']*)' \| scripts/run\.sh\n.*?^```text\n(.*?)^```$", readme,
                  re.M | re.S)
if not piped:
    sys.exit("README: no piped example followed by a ```text block")
answers = piped.group(1).encode().decode("unicode_escape").encode()
if answers != example_in:
    problems.append(f"the piped answers {answers!r} are not example.in")
if piped.group(2).encode() != (transcripts / "example.out").read_bytes():
    problems.append("the bytes shown are not example.out")


def replay(command, typed):
    # The screen of a terminal on which each line of `typed` is typed once
    # the screen reaches where the README shows it, with LF for CR LF.
    master, slave = pty.openpty()
    proc = subprocess.Popen(command, stdin=slave, stdout=slave, stderr=slave)
    os.close(slave)
    screen, pending = b"", list(typed)
    while True:
        if pending and len(screen) >= pending[0][0]:
            os.write(master, pending.pop(0)[1])
        if not select.select([master], [], [], 10)[0]:
            problems.append(f"the session stuck after {screen!r}")
            break
        try:
            chunk = os.read(master, 4096)
        except OSError:  # the program has ended and closed the terminal
            break
        if not chunk:
            break
        screen = (screen + chunk).replace(b"\r\n", b"\n")
    proc.wait(timeout=60)
    os.close(master)
    return screen


session = re.search(r"^A terminal,[^`]*?:\n\n((?:    .*\n|\n)+)", readme, re.M)
if not session:
    sys.exit("README: no terminal session")
shown = re.sub(r"^    ", "", session.group(1).strip("\n") + "\n", flags=re.M).encode()
typed, at = [], 0
for answer in example_in.splitlines(keepends=True):  # where each answer stands on the screen
    at = shown.index(answer, at)
    typed.append((at, answer))
    at += len(answer)
if replay(sys.argv[1:], typed) != shown:
    problems.append("the terminal session is not what a terminal shows")
sys.exit("README: " + "; ".join(problems) if problems else 0)
