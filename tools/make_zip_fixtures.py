#!/usr/bin/env python3
"""Makes the ZIP fixtures of tests/zip with Info-ZIP zip, and records for each what Info-ZIP unzip
extracts from it (the oracle the extractor's tests compare with).

Usage: tools/make_zip_fixtures.py [output-dir]   (default: tests/fixtures/zip)

Each fixture NAME.zip gets NAME.expected, one line per extracted entry, sorted by path:
  d PATH                     a directory
  f CRC32 SIZE MODE PATH     a regular file (CRC-32 and size of its bytes, permission bits in octal)
  l TARGET PATH              a symbolic link (the extractor writes a regular file holding TARGET instead)
The fixtures:
  tree.zip       nested directories, an empty file and an empty directory, names without a dot,
                 deflated and stored (*.bin) members, data over several 32 KiB chunks, Unix modes with
                 setuid and a symbolic link (zip -y)
  streamed.zip   the same files written with data descriptors (zip -fd)
  zip64.zip      ZIP64 extra fields and end records forced (zip -fz)
  encrypted.zip  two members enciphered with the password "secret" (zip -P), one plain member
  bzip2.zip      one BZip2 member (zip -Z bzip2) and two deflated ones
"""
import os
import random
import shutil
import stat
import subprocess
import sys
import tempfile
import zlib


def make_tree(root):
    def write(path, data, mode=0o644):
        full = os.path.join(root, path)
        os.makedirs(os.path.dirname(full), exist_ok=True)
        with open(full, "wb") as f:
            f.write(data)
        os.chmod(full, mode)

    rng = random.Random(1951)
    write("tree/readme", b"A member whose name has no dot.\n")
    write("tree/a.txt", b"hello, world\n")
    write("tree/empty.dat", b"")
    write("tree/sub/deeper/nested.c", b"int main(void) { return 0; }\n" * 40)
    write("tree/sub/data.bin", bytes(rng.getrandbits(8) for _ in range(33000)))
    write("tree/big.log", b"".join(b"line %06d of a log that compresses well\n" % i for i in range(5000)))
    write("tree/setuid.sh", b"#!/bin/sh\necho set-user-id\n", 0o4755)
    os.makedirs(os.path.join(root, "tree/emptydir"), exist_ok=True)
    os.symlink("a.txt", os.path.join(root, "tree/link"))


def zip_in(root, archive, *args):
    subprocess.run(["zip", "-q", *args], cwd=root, check=True)


def expected_listing(archive, work):
    out = os.path.join(work, "unzipped")
    shutil.rmtree(out, ignore_errors=True)
    os.makedirs(out)
    # -o: no questions; -P: the password for the enciphered fixture (ignored by the others). unzip exits
    # with 1 or 81 when it skips a member it cannot decode (the BZip2 one in some builds).
    result = subprocess.run(["unzip", "-q", "-o", "-P", "secret", archive, "-d", out],
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    if result.returncode not in (0, 1, 81):
        sys.exit("unzip failed on %s: %d" % (archive, result.returncode))
    lines = []
    for base, dirs, files in os.walk(out):
        for name in dirs + files:
            full = os.path.join(base, name)
            rel = os.path.relpath(full, out)
            info = os.lstat(full)
            if stat.S_ISLNK(info.st_mode):
                lines.append("l %s %s" % (os.readlink(full), rel))
            elif stat.S_ISDIR(info.st_mode):
                lines.append("d %s" % rel)
            else:
                with open(full, "rb") as f:
                    data = f.read()
                lines.append("f %08x %d %o %s" % (zlib.crc32(data), len(data), info.st_mode & 0o7777, rel))
    lines.sort(key=lambda line: line.split(" ")[-1])
    return "".join(line + "\n" for line in lines)


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    target = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, "..", "tests", "fixtures", "zip"))
    os.makedirs(target, exist_ok=True)
    old_umask = os.umask(0o022)
    with tempfile.TemporaryDirectory() as work:
        make_tree(work)
        zip_in(work, "tree.zip", "-r", "-y", "-n", ".bin", "tree.zip", "tree")
        zip_in(work, "streamed.zip", "-r", "-fd", "streamed.zip", "tree/readme", "tree/a.txt", "tree/sub")
        zip_in(work, "zip64.zip", "-r", "-fz", "zip64.zip", "tree/readme", "tree/a.txt", "tree/sub")
        zip_in(work, "encrypted.zip", "-P", "secret", "encrypted.zip", "tree/a.txt", "tree/big.log")
        zip_in(work, "encrypted.zip", "encrypted.zip", "tree/readme")
        zip_in(work, "bzip2.zip", "-Z", "bzip2", "bzip2.zip", "tree/big.log")
        zip_in(work, "bzip2.zip", "bzip2.zip", "tree/a.txt", "tree/readme")
        for name in ("tree", "streamed", "zip64", "encrypted", "bzip2"):
            archive = os.path.join(work, name + ".zip")
            shutil.copyfile(archive, os.path.join(target, name + ".zip"))
            with open(os.path.join(target, name + ".expected"), "w") as f:
                f.write(expected_listing(archive, work))
    os.umask(old_umask)


if __name__ == "__main__":
    main()
