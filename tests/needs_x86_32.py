"""Runs COMMAND if this machine can execute 32-bit x86 code; otherwise says
so in one line and exits 77, which CTest reports as a skip.

Usage: needs_x86_32.py [--assume-not] COMMAND [ARG...]

Some kernels refuse every 32-bit executable ("Exec format error"), and with it
the 32-bit wine loader. The question is asked of the kernel itself, with the
smallest 32-bit program there is, so that a missing wine package still fails
as it should instead of passing for a skip.
"""
import errno
import os
import struct
import subprocess
import sys

SKIP = 77
REASON = "this machine cannot execute 32-bit x86 code"


def tiny_x86_32_program():
    """A static i386 ELF executable whose one segment is exit(0)."""
    base = 0x08048000
    code = bytes.fromhex("b801000000" "31db" "cd80")  # mov eax,1; xor ebx,ebx; int 0x80
    ehsize, phsize = 52, 32
    size = ehsize + phsize + len(code)
    ident = b"\x7fELF" + bytes([1, 1, 1]) + bytes(9)  # 32-bit, little-endian, version 1
    header = ident + struct.pack("<HHIIIIIHHHHHH", 2, 3, 1, base + ehsize + phsize, ehsize, 0, 0,
                                 ehsize, phsize, 1, 0, 0, 0)
    segment = struct.pack("<IIIIIIII", 1, 0, base, base, size, size, 5, 0x1000)
    return header + segment + code


def can_execute_x86_32():
    # Run from memory: no file is left behind, whatever happens to this
    # process, and a folder mounted noexec does not matter. The descriptor
    # that wrote the program is closed first, as the kernel will not execute
    # a file that is open for writing.
    written = os.memfd_create("x86_32_probe")
    os.write(written, tiny_x86_32_program())
    probe = os.open(f"/proc/self/fd/{written}", os.O_RDONLY)
    os.close(written)
    try:
        return subprocess.run([f"/proc/self/fd/{probe}"], pass_fds=[probe],
                              check=False).returncode == 0
    except OSError as error:
        if error.errno == errno.ENOEXEC:
            return False
        raise
    finally:
        os.close(probe)


def main(args):
    forced = args[:1] == ["--assume-not"]
    if forced or not can_execute_x86_32():
        print(f"skipped: {REASON}" + (" (forced by BIEGACZ_FORCE_NO_32BIT_EXEC)" if forced else ""),
              flush=True)
        return SKIP
    os.execvp(args[0], args)


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
