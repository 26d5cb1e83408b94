#!/usr/bin/env python3
"""Checks the package each workflow left in out/PRESET (default: all three):
named for the version, it holds what `cmake --install` does, the licence
among it, in entries sorted, 0/0, 0755 or 0644; it matches its .sha256; its
program writes the example's bytes (CR LF under wine for a zip). The win32
run is skipped, saying why, where 32-bit code cannot run or where
BIEGACZ_FORCE_NO_32BIT_EXEC=ON says to act as if."""
import hashlib
import os
import re
import subprocess
import sys
import tarfile
import tempfile
import zipfile
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
sys.path.insert(0, str(ROOT / "tests"))
from needs_x86_32 import REASON, can_execute_x86_32  # noqa: E402

VERSION = re.search(r"project\(biegacz VERSION ([0-9.]+)", (ROOT / "CMakeLists.txt").read_text())[1]
FORCED = os.environ.get("BIEGACZ_FORCE_NO_32BIT_EXEC", "OFF").upper() not in ("", "0", "OFF")
files_below = lambda top: sorted(p.relative_to(top).as_posix() for p in top.rglob("*") if p.is_file())
PACKAGES = {"release": ("Linux.tar.gz", None), "windows-x64": ("win64.zip", "x86_64"),
            "windows": ("win32.zip", "i686")}  # preset: package's ending, mingw CPU


def entries(package):
    """(name, wanted mode, mode, owner) of each entry; a normalised zip has no owner."""
    wanted = lambda name, is_dir: 0o755 if is_dir or name.endswith(("/bin/biegacz", ".exe")) else 0o644
    if package.suffix == ".zip":
        with zipfile.ZipFile(package) as zipped:
            return [(i.filename.rstrip("/"), wanted(i.filename, i.is_dir()), i.external_attr >> 16 & 0o777,
                     "0/0") for i in zipped.infolist()]
    with tarfile.open(package) as tarred:
        return [(m.name, wanted(m.name, m.isdir()), m.mode, f"{m.uid}/{m.gid}") for m in tarred]


def run_example(program, build, cpu, actual):  # judged by the transcripts' own driver
    env, emulator, session = dict(os.environ), [], [sys.executable, ROOT / "tests" / "wine_session.py"]
    if cpu:  # in the build folder's wine session
        wine_env = (build / "wine.env").read_text().splitlines()
        env.update(line.split("=", 1) for line in wine_env)
        emulator = ["env", *wine_env, env["WINELOADER"]]
        subprocess.run(session + ["start", build / "wine.log"], env=env, check=True)
    example = ROOT / "tests" / "transcripts" / "example"
    done = subprocess.run(["cmake", f"-DPROGRAM={program}", "-DEMULATOR=" + "|".join(emulator),
                           f"-DCRLF={bool(cpu)}", f"-DINPUT={example}.in", f"-DEXPECTED={example}.out",
                           f"-DACTUAL={actual}", "-P", str(ROOT / "tests" / "run_transcript.cmake")],
                          capture_output=True, text=True, timeout=120, check=False)
    if cpu:
        subprocess.run(session + ["stop"], env=env, check=True)
    return [" ".join(done.stderr.split())] if done.returncode else []


def faults(preset, scratch):
    build, (ending, cpu) = ROOT / "out" / preset, PACKAGES[preset]
    package = build / f"biegacz-{VERSION}-{ending}"
    if not package.exists():
        return [f"no {package.name}: `cmake --workflow --preset {preset}` makes it"]
    digest, listed = hashlib.sha256(package.read_bytes()).hexdigest(), entries(package)
    found = [] if (build / f"{package.name}.sha256").read_text() == f"{digest}  {package.name}\n" else ["a wrong .sha256"]
    names = [name for name, *_ in listed]
    found += [] if names == sorted(names, key=lambda name: name.split("/")) else ["entries not sorted"]
    found += [f"{name}: mode {mode:o}, owner {owner}" for name, wanted, mode, owner in listed
              if (mode, owner) != (wanted, "0/0")]
    subprocess.run(["cmake", "-E", "tar", "xf", package], cwd=scratch, check=True)
    subprocess.run(["cmake", "--install", build, "--prefix", scratch / "installed"], check=True,
                   capture_output=True)
    unpacked = scratch / package.name.removesuffix(".zip").removesuffix(".tar.gz")
    if files_below(unpacked) != files_below(scratch / "installed"):
        return found + [f"holds {files_below(unpacked)}, not {files_below(scratch / 'installed')}"]
    licence = (ROOT / "LICENSE").read_bytes()  # CR LF in a zip
    found += [] if any((unpacked / f).read_bytes().replace(b"\r\n", b"\n") == licence
                       for f in files_below(unpacked)) else ["no licence"]
    program = unpacked / ("biegacz.exe" if cpu else "bin/biegacz")
    if cpu == "i686" and (FORCED or not can_execute_x86_32()):
        print(f"{package.name}: its run skipped: {REASON}" + (" (forced)" if FORCED else ""))
    else:
        found += run_example(program, build, cpu, scratch / "example.actual")
    print(f"{package.name}: " + ("; ".join(found) or ", ".join(files_below(unpacked)) + ": all as it should be"))
    return found


if __name__ == "__main__":
    failed = []
    for name in sys.argv[1:] or PACKAGES:
        with tempfile.TemporaryDirectory() as scratch:
            failed += [name] if faults(name, Path(scratch)) else []
    sys.exit(f"packages with faults: {', '.join(failed)}" if failed else 0)
