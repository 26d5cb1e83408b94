# Packs a build folder with cpack and checks the package: it holds the files
# `cmake --install` makes, the licence among them, in entries sorted, owned by
# 0/0 (a zip's owners read from its 0x7875 and 0x7855 fields, of which it
# needs one), 0755 or 0644;
# its program, run through EMULATOR, writes the example's bytes (CR LF for a
# zip). Where the build cannot run its program, SKIP says why, and all the
# rest is still checked.
#
# Usage: package_test.py BUILD --skip=[SKIP] [EMULATOR...]
import re
import struct
import subprocess
import sys
import tarfile
import tempfile
import zipfile
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
EXAMPLE = ROOT / "tests" / "transcripts" / "example"
files_below = lambda top: sorted(p.relative_to(top).as_posix() for p in top.rglob("*") if p.is_file())


def zip_owners(zipped, info):
    # uid/gid pairs from the entry's Unix extra fields, central and local.
    zipped.fp.seek(info.header_offset + 26)
    name_length, extra_length = struct.unpack("<HH", zipped.fp.read(4))
    zipped.fp.seek(name_length, 1)
    owners = []
    for extra in (info.extra, zipped.fp.read(extra_length)):
        while len(extra) >= 4:
            kind, size = struct.unpack("<HH", extra[:4])
            field, extra = extra[4:4 + size], extra[4 + size:]
            if kind == 0x7875 and field[:1] == b"\x01":  # Info-ZIP new Unix: sizes, then uid, gid
                uid_size = field[1]
                uid = int.from_bytes(field[2:2 + uid_size], "little")
                gid = int.from_bytes(field[3 + uid_size:3 + uid_size + field[2 + uid_size]], "little")
                owners.append(f"{uid}/{gid}")
            elif kind == 0x7855 and size >= 4:  # Info-ZIP Unix type 2: uid, gid
                owners.append("%d/%d" % struct.unpack("<HH", field[:4]))
    return owners


def entries(package):
    # (name, wanted mode, mode, owners) of each entry.
    wanted = lambda name, is_dir: 0o755 if is_dir or name.endswith(("/bin/biegacz", ".exe")) else 0o644
    if package.suffix == ".zip":
        with zipfile.ZipFile(package) as zipped:
            return [(i.filename.rstrip("/"), wanted(i.filename, i.is_dir()), i.external_attr >> 16 & 0o777,
                     zip_owners(zipped, i) or ["none"]) for i in zipped.infolist()]
    with tarfile.open(package) as tarred:
        return [(m.name, wanted(m.name, m.isdir()), m.mode, [f"{m.uid}/{m.gid}"]) for m in tarred]


def faults(build, skip, emulator, scratch):
    packed = subprocess.run(["cpack"], cwd=build, check=True, stdout=subprocess.PIPE, text=True).stdout
    package = Path(re.search(r"package: (.*) generated", packed).group(1))  # this run's, not an older one
    found, listed = [], entries(package)
    names = [name for name, *_ in listed]
    found += [] if names == sorted(names, key=lambda name: name.split("/")) else ["entries not sorted"]
    found += [f"{name}: mode {mode:o}, owner {' '.join(owners)}" for name, wanted, mode, owners in listed
              if mode != wanted or any(owner != "0/0" for owner in owners)]
    subprocess.run(["cmake", "-E", "tar", "xf", package], cwd=scratch, check=True)
    subprocess.run(["cmake", "--install", build, "--prefix", scratch / "installed"], check=True,
                   capture_output=True)
    unpacked = scratch / package.name.removesuffix(".zip").removesuffix(".tar.gz")
    if files_below(unpacked) != files_below(scratch / "installed"):
        return found + [f"holds {files_below(unpacked)}, not {files_below(scratch / 'installed')}"]
    licence = (ROOT / "LICENSE").read_bytes()  # CR LF in a zip
    found += [] if any((unpacked / f).read_bytes().replace(b"\r\n", b"\n") == licence
                       for f in files_below(unpacked)) else ["no licence"]
    if skip:
        print(f"{package.name}: its run skipped: {skip}")
    else:
        program = unpacked / ("biegacz.exe" if package.suffix == ".zip" else "bin/biegacz")
        run = subprocess.run([*emulator, program], input=EXAMPLE.with_suffix(".in").read_bytes(),
                             capture_output=True, timeout=120, check=False)
        line_end = b"\r\n" if package.suffix == ".zip" else b"\n"
        expected = EXAMPLE.with_suffix(".out").read_bytes().replace(b"\n", line_end)
        if (run.returncode, run.stdout, run.stderr) != (0, expected, b""):
            found += [f"its program exited {run.returncode}, wrote {run.stdout!r} and {run.stderr!r}"]
    print(f"{package.name}: " + ("; ".join(found) or ", ".join(files_below(unpacked)) + ": all as it should be"))
    return found


if __name__ == "__main__":
    with tempfile.TemporaryDirectory() as scratch:
        found = faults(Path(sys.argv[1]), sys.argv[2].removeprefix("--skip="), sys.argv[3:], Path(scratch))
    sys.exit(1 if found else 0)
