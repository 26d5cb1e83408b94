# The program on real pipes: prompts before reads, and write errors that
# must leave the exit status at 0.
#
# Usage: streams_test.py [EMULATOR...] PROGRAM
import os
import select
import subprocess
import sys
import unittest
from pathlib import Path

if os.name != "posix":
    # CTest reports exit status 77 as a skip; it shows nothing else of one.
    print("skipped: these checks need POSIX pipes, select() and /dev/full")
    sys.exit(77)

COMMAND = sys.argv[1:]
TRANSCRIPTS = Path(__file__).parent / "transcripts"
EXAMPLE_IN = (TRANSCRIPTS / "example.in").read_bytes()
EXAMPLE_OUT = (TRANSCRIPTS / "example.out").read_bytes()
# Windows turns each newline into CR LF; nothing else differs.
CRLF = COMMAND[-1].endswith(".exe")


def start(**kw):
    return subprocess.Popen(COMMAND, stderr=subprocess.PIPE, **kw)


def finish(test, proc, stdin=None):
    # Sends the rest of the input and checks a clean exit; returns the rest
    # of the output.
    out, err = proc.communicate(stdin, timeout=60)
    test.assertEqual(err, b"")
    test.assertEqual(proc.returncode, 0)
    return out or b""


class Streams(unittest.TestCase):
    def read_until(self, proc, expected, seen):
        # Reads until the output so far is `expected`, then checks that the
        # program writes nothing more while it waits for its answer.
        fd = proc.stdout.fileno()
        while len(seen) < len(expected):
            ready, _, _ = select.select([fd], [], [], 10)
            self.assertTrue(ready, f"stuck after {bytes(seen)!r}")
            chunk = os.read(fd, 4096)
            self.assertTrue(chunk, f"output ended after {bytes(seen)!r}")
            seen += chunk
        self.assertEqual(bytes(seen), expected)
        self.assertEqual(select.select([fd], [], [], 0.3)[0], [], "went on without an answer")

    def test_each_prompt_comes_before_its_read(self):
        # What the program has written when it waits for each answer, read off
        # the example: a prompt ends its line, but for the last, which the
        # card's rule follows on the same line (the rule that closes the card).
        lines = EXAMPLE_OUT.split(b"\n")
        waits = [lines[0], b"\n".join(lines[:2]), b"\n".join(lines[:3]).removesuffix(lines[5])]
        proc = start(stdin=subprocess.PIPE, stdout=subprocess.PIPE)
        seen = bytearray()
        for wait, answer in zip(waits, EXAMPLE_IN.splitlines(keepends=True)):
            self.read_until(proc, wait.replace(b"\n", b"\r\n") if CRLF else wait, seen)
            proc.stdin.write(answer)
            proc.stdin.flush()
        out = bytes(seen) + finish(self, proc)
        self.assertEqual(out.replace(b"\r\n", b"\n") if CRLF else out, EXAMPLE_OUT)

    def test_reader_gone_before_the_cards(self):
        # Like `biegacz < answers | head -c 5`, but certain to write after the
        # reader has gone: the answers are sent only once it has.
        proc = start(stdin=subprocess.PIPE, stdout=subprocess.PIPE)
        self.read_until(proc, EXAMPLE_OUT.split(b"\n")[0], bytearray())  # the first prompt
        proc.stdout.close()
        finish(self, proc, EXAMPLE_IN)

    @unittest.skipIf(CRLF or not os.path.exists("/dev/full"), "needs a POSIX /dev/full")
    def test_output_device_full(self):
        with open("/dev/full", "wb") as full:
            finish(self, start(stdin=subprocess.PIPE, stdout=full), EXAMPLE_IN)

    @unittest.skipIf(CRLF, "a closed descriptor is a POSIX notion")
    def test_output_closed(self):
        finish(self, start(stdin=subprocess.PIPE, stdout=subprocess.DEVNULL,
                           preexec_fn=lambda: os.close(1)), EXAMPLE_IN)

    @unittest.skipIf(CRLF, "a closed descriptor is a POSIX notion")
    def test_input_closed(self):
        proc = start(stdout=subprocess.PIPE, preexec_fn=lambda: os.close(0))
        out, _ = proc.communicate(timeout=60)
        self.assertEqual(out, (TRANSCRIPTS / "eof_at_name.out").read_bytes())
        self.assertEqual(proc.returncode, 0)


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1])
