"""The README's piped example must show what the program really writes: the
answers it pipes in are example.in, and its block of bytes is example.out.

Usage: readme_test.py README TRANSCRIPTS_DIR
"""
import re
import sys
from pathlib import Path

readme = Path(sys.argv[1]).read_text(encoding="utf-8")
transcripts = Path(sys.argv[2])
piped = re.search(r"^    printf '([^']*)' \| scripts/run\.sh\n.*?^```text\n(.*?)^```$", readme,
                  re.M | re.S)
if not piped:
    sys.exit("README: no piped example followed by a ```text block")
answers = piped.group(1).encode().decode("unicode_escape").encode()
problems = []
if answers != (transcripts / "example.in").read_bytes():
    problems.append(f"the piped answers {answers!r} are not example.in")
if piped.group(2).encode() != (transcripts / "example.out").read_bytes():
    problems.append("the bytes shown are not example.out")
sys.exit("README: " + "; ".join(problems) if problems else 0)
