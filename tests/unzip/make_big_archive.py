#!/usr/bin/python3
"""Writes big.zip for the slow test: an archive appended to 4 GiB of other
data (a sparse hole, so it costs no disk), whose first entry is more than
4 GiB of zeros, deflated while it streams (so the archive stays a few MB),
and whose second entry is a short text. Every local header and the central
directory lie past 4 GiB in the file: Zip64 sizes, offsets and end record.

Usage: make_big_archive.py OUTDIR
"""
import os
import sys
import zipfile

ZEROS = (4 << 30) + (1 << 20)   # 4 GiB and 1 MiB
HOLE = (4 << 30) + 12345        # the data before the archive


def main():
    out = os.path.abspath(sys.argv[1])
    os.makedirs(out, exist_ok=True)
    path = os.path.join(out, "big.zip")
    if os.path.exists(path):
        os.remove(path)
    with open(path, "wb") as f:
        f.truncate(HOLE)
    # Appended to data that is not an archive, zipfile counts its offsets
    # from the start of the file.
    with zipfile.ZipFile(path, "a", zipfile.ZIP_DEFLATED, compresslevel=1) as z:
        info = zipfile.ZipInfo("zeros.bin", (2024, 2, 29, 12, 34, 56))
        info.compress_type = zipfile.ZIP_DEFLATED
        chunk = bytes(1 << 20)
        with z.open(info, "w", force_zip64=True) as w:
            for _ in range(ZEROS // len(chunk)):
                w.write(chunk)
        after = zipfile.ZipInfo("after.txt", (2024, 3, 1, 8, 0, 0))
        z.writestr(after, b"the entry after the big one\n")


if __name__ == "__main__":
    main()
