#!/usr/bin/env python3
"""Checks what ships: each package made by `cpack --preset NAME`, unpacked
into an empty folder, must hold exactly the expected files, and the program
in it must write the example's bytes for the example's answers (CR LF on
Windows). A Windows package must also carry a README.txt in Polish, then
English (UTF-8 with a byte-order mark, CR LF), and the project's version in
its executable's version strings. Every package must match its SHA-256 file,
carry the licence (CR LF in a zip) and hold its entries sorted by path,
owned by 0/0, of one time and with fixed modes.

Usage: scripts/check_packages.py [PRESET...]   (default: every row below)

A package's run under the 32-bit wine is skipped, with the reason, where this
machine cannot execute 32-bit code, or where BIEGACZ_FORCE_NO_32BIT_EXEC=ON
says to act as if; everything else about it is still checked.
"""
import hashlib
import os
import re
import shutil
import subprocess
import sys
import tempfile
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
sys.path[:0] = [str(ROOT / "tests"), str(ROOT / "packaging")]
from archives import entries, path_order  # noqa: E402
from needs_x86_32 import REASON, can_execute_x86_32  # noqa: E402

VERSION = re.search(r"project\(biegacz VERSION ([0-9.]+)", (ROOT / "CMakeLists.txt").read_text())[1]
TRANSCRIPTS = ROOT / "tests" / "transcripts"
# As for the test suite: takes the skip path on any machine.
FORCE_NO_32BIT = os.environ.get("BIEGACZ_FORCE_NO_32BIT_EXEC", "OFF").upper() not in ("", "0", "OFF")
WINDOWS_FILES = ["biegacz.exe", "README.txt", "LICENSE.txt"]

# preset, package's system name, files below its top folder, program, windres of its width
PACKAGES = [
    ("release", "Linux", ["bin/biegacz", "share/doc/biegacz/README.md", "share/doc/biegacz/LICENSE"],
     "bin/biegacz", None),
    ("windows-x64", "win64", WINDOWS_FILES, "biegacz.exe", "x86_64-w64-mingw32-windres"),
    ("windows", "win32", WINDOWS_FILES, "biegacz.exe", "i686-w64-mingw32-windres"),
]


def tree(folder):
    """Every path below folder, directories with a trailing slash."""
    return {p.relative_to(folder).as_posix() + ("/" if p.is_dir() else "") for p in folder.rglob("*")}


def expected_tree(top, files):
    paths = set()
    for file in files:
        parts = f"{top}/{file}".split("/")
        paths.update("/".join(parts[:i]) + "/" for i in range(1, len(parts)))
        paths.add("/".join(parts))
    return paths


def run_example(program, scratch, emulator=()):
    """Problems with the program's run on the example's answers, judged by the
    transcript tests' own driver; CR LF is wanted where an emulator runs it."""
    done = subprocess.run(
        ["cmake", f"-DPROGRAM={program}", "-DEMULATOR=" + "|".join(emulator),
         f"-DCRLF={'ON' if emulator else 'OFF'}", f"-DINPUT={TRANSCRIPTS / 'example.in'}",
         f"-DEXPECTED={TRANSCRIPTS / 'example.out'}", f"-DACTUAL={scratch / 'example.actual'}",
         "-P", str(ROOT / "tests" / "run_transcript.cmake")],
        capture_output=True, text=True, timeout=120, check=False)
    return [" ".join(done.stderr.split())] if done.returncode else []


def run_under_wine(build, program, scratch):
    """Runs the program in the build folder's wine session, made for this run."""
    wine_env = (build / "wine.env").read_text().splitlines()
    env = dict(os.environ, **dict(line.split("=", 1) for line in wine_env))
    session = [sys.executable, str(ROOT / "tests" / "wine_session.py")]
    subprocess.run(session + ["start", str(build / "wine.log")], env=env, check=True,
                   stdout=subprocess.DEVNULL)
    try:
        return run_example(program, scratch, ["env", *wine_env, env["WINELOADER"]])
    finally:
        subprocess.run(session + ["stop"], env=env, check=True)


def version_strings(windres, exe):
    rc = subprocess.run([windres, "-i", str(exe), "-O", "rc"], capture_output=True, text=True,
                        check=True).stdout
    return dict(re.findall(r'VALUE "(\w+)", "([^"]*)"', rc))


def check(preset, system, files, program, windres):
    """Checks one package and prints what it found; returns its problems."""
    build = ROOT / "out" / preset
    name = f"biegacz-{VERSION}-{system}"
    package = build / (name + (".zip" if windres else ".tar.gz"))
    said, problems = [], []
    if package.exists():
        with tempfile.TemporaryDirectory() as scratch:
            inspect(package, Path(scratch), name, files, program, windres, said, problems)
    else:
        problems.append(f"not made: `cmake --workflow --preset {preset}` makes it")
    print(f"{package.relative_to(ROOT)}: " + "; ".join(said + problems))
    return problems


def normal_form_faults(package, program, windres):
    """How the archive's entries stray from the one form packing gives them."""
    found = entries(str(package))
    names = [entry.name for entry in found]
    faults = [] if names == sorted(names, key=path_order) else ["entries not sorted by path"]
    owners = {entry.owner for entry in found}
    if owners != {"no owner" if windres else "0/0 (-/-)"}:
        faults.append(f"owners {sorted(owners)}")
    if len({entry.time for entry in found}) != 1:
        faults.append("entries of different times")
    for entry in found:
        wanted = 0o755 if entry.is_dir or entry.name.endswith("/" + program) else 0o644
        if entry.mode & 0o777 != wanted:
            faults.append(f"{entry.name} has mode {entry.mode & 0o777:o}, not {wanted:o}")
    return faults


def readme_faults(text):
    """The zip's README.txt: Polish first, then the same in English, each
    with the commands it explains; UTF-8 with a byte-order mark, which makes
    Notepad read it as UTF-8 on any Windows; CR LF line ends."""
    faults = []
    if text.count(b"\r\n") != text.count(b"\n") or text.count(b"\r\n") != text.count(b"\r"):
        faults.append("README.txt not CR LF throughout")
    if not text.startswith(b"\xef\xbb\xbf"):
        faults.append("README.txt without the UTF-8 byte-order mark")
    polish, _, english = text.decode("utf-8", errors="replace").partition("IN ENGLISH")
    if "PO POLSKU" not in polish or "wiersz" not in polish or "Command Prompt" not in english:
        faults.append("README.txt not in Polish, then in English")
    for language, part in (("Polish", polish), ("English", english)):
        missing = [word for word in ("biegacz.exe", "chcp 65001", "\u015b") if word not in part]
        if missing:
            faults.append(f"its {language} part lacks {', '.join(missing)}")
    return faults


def inspect(package, scratch, name, files, program, windres, said, problems):
    """Adds what passed to said, and what did not to problems."""
    def expect(faults, passed):
        problems.extend(faults)
        if not faults:
            said.append(passed)

    digest = hashlib.sha256(package.read_bytes()).hexdigest()
    listed = (package.parent / (package.name + ".sha256")).read_text()
    expect([] if listed == f"{digest}  {package.name}\n" else ["a wrong .sha256 file"], "SHA-256")
    expect(normal_form_faults(package, program, windres),
           "entries sorted, owned by 0/0, one time, modes 0755 and 0644")
    unpacked = scratch / "unpacked"
    shutil.unpack_archive(package, unpacked)
    found, wanted = tree(unpacked), expected_tree(name, files)
    if found != wanted:
        problems.append(f"holds {sorted(found - wanted)}, lacks {sorted(wanted - found)}")
        return
    said.append(", ".join(files))
    top = unpacked / name
    licence = (ROOT / "LICENSE").read_bytes()
    shipped = top / next(file for file in files if "LICENSE" in file)
    wanted = licence.replace(b"\n", b"\r\n") if windres else licence
    expect([] if shipped.read_bytes() == wanted else [f"{shipped.name} is not LICENSE"],
           "the licence" + (" in CR LF" if windres else ""))
    if not windres:
        expect(run_example(top / program, scratch), "the example's bytes")
        return
    if name.endswith("win32") and (FORCE_NO_32BIT or not can_execute_x86_32()):
        said.append(f"its run skipped: {REASON}" + (" (forced)" if FORCE_NO_32BIT else ""))
    else:
        expect(run_under_wine(package.parent, top / program, scratch),
               "the example's bytes, CR LF, under wine")
    expect(readme_faults((top / "README.txt").read_bytes()),
           "README.txt in Polish, then English, UTF-8 with a BOM, CR LF")
    strings = version_strings(windres, top / program)
    expect([f"{key} {strings.get(key)!r}, not {VERSION}" for key in ("FileVersion", "ProductVersion")
            if strings.get(key) != VERSION], f"version {VERSION}")


def main(presets):
    rows = [row for row in PACKAGES if not presets or row[0] in presets]
    if presets and len(rows) != len(presets):
        sys.exit(f"packages are made for {', '.join(row[0] for row in PACKAGES)}")
    failed = [row[0] for row in rows if check(*row)]
    if failed:
        sys.exit(f"packages with problems: {', '.join(failed)}")


if __name__ == "__main__":
    main(sys.argv[1:])
