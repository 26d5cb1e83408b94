#!/usr/bin/env python3
"""The packages' archives, made the same bytes from the same files.

  archives.py normalise ARCHIVE...   rewrite each .tar.gz or .zip in place
  archives.py list ARCHIVE           one line an entry, in archive order

CPack 3.25, Debian 12's, adds entries in the order the packer's filesystem
lists the staged folder, and records the packer's user and, for folders, the
umask. So its archives are rewritten here, entry by entry, by the standard
library's own tar, gzip and zip writers: sorted by path, owned by 0/0 with no
names, folders and executables 0755 and other files 0644, every time
SOURCE_DATE_EPOCH, no time or name in the gzip header, no zip extra fields
(which would carry the owner and more times). CMake 4.3 and later give the
entries 0/0 by themselves (CPACK_ARCHIVE_UID and CPACK_ARCHIVE_GID, policy
CMP0206), which makes the owner part unnecessary there; the CPack
documentation up to CMake 4.4 has no switch for the order or the modes, so
the rest stays.
"""
import gzip
import hashlib
import io
import os
import sys
import tarfile
import time
import zipfile
from collections import namedtuple

# One entry as stored: a zip's mode carries its file-type bits, and its owner
# is whatever extra fields it has (CPack's carry the uid and gid).
Entry = namedtuple("Entry", "name is_dir mode owner time data")


def entries(path):
    """Every entry of a .tar.gz or .zip, in archive order."""
    if path.endswith(".zip"):
        with zipfile.ZipFile(path) as archive:
            return [Entry(info.filename, info.is_dir(), info.external_attr >> 16,
                          f"extra {info.extra.hex()}" if info.extra else "no owner",
                          "{:04}-{:02}-{:02} {:02}:{:02}:{:02}".format(*info.date_time),
                          b"" if info.is_dir() else archive.read(info))
                    for info in archive.infolist()]
    found = []
    with tarfile.open(path, "r:gz") as archive:
        for member in archive.getmembers():
            if not (member.isdir() or member.isfile()):
                sys.exit(f"{path}: {member.name}: only files and folders are packed")
            found.append(Entry(member.name, member.isdir(), member.mode,
                               f"{member.uid}/{member.gid} ({member.uname or '-'}/{member.gname or '-'})",
                               time.strftime("%Y-%m-%d %H:%M:%S UTC", time.gmtime(member.mtime)),
                               archive.extractfile(member).read() if member.isfile() else b""))
    return found


def normalised_mode(entry):
    """Folders and what its owner may execute 0755, the rest 0644."""
    return 0o755 if entry.is_dir or entry.mode & 0o100 else 0o644


def write_tar_gz(path, entries, epoch):
    tar = io.BytesIO()
    with tarfile.open(fileobj=tar, mode="w", format=tarfile.PAX_FORMAT) as archive:
        for entry in entries:
            info = tarfile.TarInfo(entry.name.rstrip("/"))
            info.type = tarfile.DIRTYPE if entry.is_dir else tarfile.REGTYPE
            info.mode = normalised_mode(entry)
            info.uid = info.gid = 0
            info.uname = info.gname = ""
            info.mtime = epoch
            info.size = len(entry.data)
            archive.addfile(info, None if entry.is_dir else io.BytesIO(entry.data))
    with open(path, "wb") as out, gzip.GzipFile(filename="", mode="wb", fileobj=out,
                                                compresslevel=9, mtime=0) as packed:
        packed.write(tar.getvalue())


def write_zip(path, entries, epoch):
    # A zip holds local time without a zone; the packages give UTC, and
    # nothing earlier than 1980, the first time a zip can hold.
    stamp = max(time.gmtime(epoch)[:6], (1980, 1, 1, 0, 0, 0))
    with zipfile.ZipFile(path, "w") as archive:
        for entry in entries:
            name = entry.name.rstrip("/")
            info = zipfile.ZipInfo(name + "/" if entry.is_dir else name, stamp)
            info.create_system = 3  # Unix, so that the mode below means something
            kind = 0o40000 if entry.is_dir else 0o100000
            info.external_attr = (kind | normalised_mode(entry)) << 16
            if entry.is_dir:
                info.external_attr |= 0x10  # the MS-DOS directory bit
                archive.writestr(info, b"")
            else:
                info.compress_type = zipfile.ZIP_DEFLATED
                archive.writestr(info, entry.data, compresslevel=9)


def path_order(name):
    """Sorted by path: a folder before what it holds, siblings in byte order."""
    return name.rstrip("/").split("/")


def normalise(path):
    epoch = int(os.environ.get("SOURCE_DATE_EPOCH", "0"))
    ordered = sorted(entries(path), key=lambda entry: path_order(entry.name))
    (write_zip if path.endswith(".zip") else write_tar_gz)(path, ordered, epoch)


def listing(path):
    """One line an entry: order, mode, owner, time, size, content, name."""
    return [f"{i + 1:3} {e.mode:06o} {e.owner:24} {e.time} {len(e.data):>9} "
            f"{hashlib.sha256(e.data).hexdigest()[:12]} {e.name}"
            for i, e in enumerate(entries(path))]


def main(args):
    if len(args) >= 2 and args[0] == "normalise":
        for path in args[1:]:
            normalise(path)
    elif len(args) == 2 and args[0] == "list":
        print("\n".join(listing(args[1])))
    else:
        sys.exit(__doc__.split("\n\n")[1])


if __name__ == "__main__":
    main(sys.argv[1:])
