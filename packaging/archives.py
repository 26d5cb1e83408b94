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


def read_entries(path):
    """(name, is_dir, mode, data) for each entry of a tar.gz or zip."""
    if path.endswith(".zip"):
        with zipfile.ZipFile(path) as archive:
            return [(info.filename.rstrip("/"), info.is_dir(), info.external_attr >> 16,
                     b"" if info.is_dir() else archive.read(info))
                    for info in archive.infolist()]
    entries = []
    with tarfile.open(path, "r:gz") as archive:
        for member in archive.getmembers():
            if not (member.isdir() or member.isfile()):
                sys.exit(f"{path}: {member.name}: only files and folders can be normalised")
            data = b"" if member.isdir() else archive.extractfile(member).read()
            entries.append((member.name.rstrip("/"), member.isdir(), member.mode, data))
    return entries


def normalised_mode(is_dir, mode):
    return 0o755 if is_dir or mode & 0o100 else 0o644


def write_tar_gz(path, entries, epoch):
    tar = io.BytesIO()
    with tarfile.open(fileobj=tar, mode="w", format=tarfile.PAX_FORMAT) as archive:
        for name, is_dir, mode, data in entries:
            info = tarfile.TarInfo(name)
            info.type = tarfile.DIRTYPE if is_dir else tarfile.REGTYPE
            info.mode = normalised_mode(is_dir, mode)
            info.uid = info.gid = 0
            info.uname = info.gname = ""
            info.mtime = epoch
            info.size = len(data)
            archive.addfile(info, io.BytesIO(data) if not is_dir else None)
    with open(path, "wb") as out, gzip.GzipFile(filename="", mode="wb", fileobj=out,
                                                compresslevel=9, mtime=0) as packed:
        packed.write(tar.getvalue())


def write_zip(path, entries, epoch):
    # A zip holds local time without a zone; the packages give UTC, and
    # nothing earlier than 1980, the first time a zip can hold.
    stamp = max(time.gmtime(epoch)[:6], (1980, 1, 1, 0, 0, 0))
    with zipfile.ZipFile(path, "w") as archive:
        for name, is_dir, mode, data in entries:
            info = zipfile.ZipInfo(name + "/" if is_dir else name, stamp)
            info.create_system = 3  # Unix, so that the mode below means something
            info.external_attr = ((0o40000 if is_dir else 0o100000) | normalised_mode(is_dir, mode)) << 16
            if is_dir:
                info.external_attr |= 0x10  # the MS-DOS directory bit
                archive.writestr(info, b"")
            else:
                info.compress_type = zipfile.ZIP_DEFLATED
                archive.writestr(info, data, compresslevel=9)


def path_order(name):
    """Sorted by path: a folder before what it holds, siblings in byte order."""
    return name.rstrip("/").split("/")


def normalise(path):
    epoch = int(os.environ.get("SOURCE_DATE_EPOCH", "0"))
    entries = sorted(read_entries(path), key=lambda entry: path_order(entry[0]))
    (write_zip if path.endswith(".zip") else write_tar_gz)(path, entries, epoch)


def describe(path):
    """(name, mode, owner, time, data) of every entry, in archive order; a
    zip's owner is whatever extra fields it carries."""
    described = []
    if path.endswith(".zip"):
        with zipfile.ZipFile(path) as archive:
            for info in archive.infolist():
                owner = f"extra {info.extra.hex()}" if info.extra else "no owner"
                when = "{:04}-{:02}-{:02} {:02}:{:02}:{:02}".format(*info.date_time)
                described.append((info.filename, f"{info.external_attr >> 16:06o}", owner, when,
                                  archive.read(info)))
    else:
        with tarfile.open(path, "r:gz") as archive:
            for member in archive.getmembers():
                data = archive.extractfile(member).read() if member.isfile() else b""
                owner = f"{member.uid}/{member.gid} ({member.uname or '-'}/{member.gname or '-'})"
                when = time.strftime("%Y-%m-%d %H:%M:%S UTC", time.gmtime(member.mtime))
                described.append((member.name, f"{member.mode:06o}", owner, when, data))
    return described


def listing(path):
    """One line an entry: order, mode, owner, time, size, content, name."""
    return [f"{i + 1:3} {mode} {owner:24} {when} {len(data):>9} "
            f"{hashlib.sha256(data).hexdigest()[:12]} {name}"
            for i, (name, mode, owner, when, data) in enumerate(describe(path))]


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
