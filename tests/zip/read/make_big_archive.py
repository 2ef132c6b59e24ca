#!/usr/bin/python3
"""Writes big.zip for the slow test: an archive appended to 4 GiB of other
data (a sparse hole, so it costs no disk), whose first entry is more than
4 GiB of zeros, deflated, and whose second entry is a short text. Every
local header and the central directory lie past 4 GiB in the file: Zip64
sizes (local and central), Zip64 offsets, a Zip64 end record and locator.

Deflating 4 GiB takes minutes on a busy machine, so the records are laid
out here, following PKWARE's application note, and the data is one raw
DEFLATE stream built from a block of zeros compressed once: after a full
flush zlib starts afresh, so each further 1 MiB of zeros compresses to the
very same bytes. Python's zipfile then reads the archive back as a check of
the layout (names, sizes, offsets).

Beside it, false_end.zip from Python's zipfile: one stored entry whose
size puts the central directory at offset 0x06054B50, so that the end
record's offset field reads "PK\\5\\6" 6 bytes before the end of the file.

Usage: make_big_archive.py OUTDIR
"""
import os
import struct
import sys
import zipfile
import zlib

CHUNK = 1 << 20
ZEROS = (4 << 30) + CHUNK       # 4 GiB and 1 MiB
HOLE = (4 << 30) + 12345        # the data before the archive
AFTER = b"the entry after the big one\n"


def dos_stamp(y, mo, d, h, mi, s):
    return ((h << 11) | (mi << 5) | (s // 2)), (((y - 1980) << 9) | (mo << 5) | d)


def zeros_deflated():
    c = zlib.compressobj(6, zlib.DEFLATED, -15)
    zero = bytes(CHUNK)
    first = c.compress(zero) + c.flush(zlib.Z_FULL_FLUSH)
    again = c.compress(zero) + c.flush(zlib.Z_FULL_FLUSH)
    assert c.compress(zero) + c.flush(zlib.Z_FULL_FLUSH) == again
    parts = [first] + [again] * (ZEROS // CHUNK - 1) + [c.flush()]
    d = zlib.decompressobj(-15)
    assert d.decompress(first + again + again + parts[-1]) == bytes(3 * CHUNK)
    return parts


def zeros_crc():
    crc = 0
    block = bytes(64 * CHUNK)
    for _ in range(ZEROS // len(block)):
        crc = zlib.crc32(block, crc)
    return zlib.crc32(bytes(ZEROS % len(block)), crc)


FALSE_END_AT = 0x06054B50


def false_end_archive(path):
    name = "pad.bin"
    data = bytes(range(256)) * ((FALSE_END_AT - 30 - len(name)) // 256 + 1)
    data = data[:FALSE_END_AT - 30 - len(name)]  # the local header, its name, then the data
    with zipfile.ZipFile(path, "w", zipfile.ZIP_STORED) as z:
        z.writestr(zipfile.ZipInfo(name, (2024, 5, 6, 7, 8, 10)), data)
    with open(path, "rb") as f:
        f.seek(-22, 2)
        end = f.read()
    assert end[:4] == b"PK\5\6" and end[16:20] == b"PK\5\6", end


def main():
    out = os.path.abspath(sys.argv[1])
    os.makedirs(out, exist_ok=True)
    path = os.path.join(out, "big.zip")
    false_end = os.path.join(out, "false_end.zip")
    # Archives made by this very script are kept.
    done = os.path.join(out, "big.%d.done" % os.path.getmtime(__file__))
    if os.path.exists(done) and os.path.exists(path) and os.path.exists(false_end):
        return
    for old in os.listdir(out):
        os.remove(os.path.join(out, old))
    false_end_archive(false_end)

    parts = zeros_deflated()
    packed = sum(len(p) for p in parts)
    crc = zeros_crc()
    t1, d1 = dos_stamp(2024, 2, 29, 12, 34, 56)
    t2, d2 = dos_stamp(2024, 3, 1, 8, 0, 0)
    m = 0xFFFFFFFF
    with open(path, "wb") as f:
        f.truncate(HOLE)
        f.seek(HOLE)
        # Local headers (APPNOTE 4.3.7): the big one with both sizes marked
        # and its Zip64 block (4.5.3) holding both.
        at1 = f.tell()
        name1 = b"zeros.bin"
        extra1 = struct.pack("<HHQQ", 1, 16, ZEROS, packed)
        f.write(struct.pack("<IHHHHHIIIHH", 0x04034B50, 45, 0, 8, t1, d1, crc, m, m, len(name1), len(extra1)))
        f.write(name1 + extra1)
        for p in parts:
            f.write(p)
        at2 = f.tell()
        name2 = b"after.txt"
        f.write(struct.pack("<IHHHHHIIIHH", 0x04034B50, 20, 0, 0, t2, d2, zlib.crc32(AFTER), len(AFTER),
                            len(AFTER), len(name2), 0))
        f.write(name2 + AFTER)
        # Central records (4.3.12): marked fields, their values in order.
        cd_at = f.tell()
        cextra1 = struct.pack("<HHQQQ", 1, 24, ZEROS, packed, at1)
        f.write(struct.pack("<IHHHHHHIIIHHHHHII", 0x02014B50, 0x031E, 45, 0, 8, t1, d1, crc, m, m,
                            len(name1), len(cextra1), 0, 0, 0, 0o100644 << 16, m))
        f.write(name1 + cextra1)
        cextra2 = struct.pack("<HHQ", 1, 8, at2)
        f.write(struct.pack("<IHHHHHHIIIHHHHHII", 0x02014B50, 0x031E, 45, 0, 0, t2, d2, zlib.crc32(AFTER),
                            len(AFTER), len(AFTER), len(name2), len(cextra2), 0, 0, 0, 0o100644 << 16, m))
        f.write(name2 + cextra2)
        cd_size = f.tell() - cd_at
        # Zip64 end record (4.3.14), its locator (4.3.15), the end record.
        z64_at = f.tell()
        f.write(struct.pack("<IQHHIIQQQQ", 0x06064B50, 44, 0x031E, 45, 0, 0, 2, 2, cd_size, cd_at))
        f.write(struct.pack("<IIQI", 0x07064B50, 0, z64_at, 1))
        f.write(struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, 2, 2, cd_size, m, 0))

    with zipfile.ZipFile(path) as z:
        infos = z.infolist()
        assert [i.filename for i in infos] == ["zeros.bin", "after.txt"]
        assert (infos[0].file_size, infos[0].compress_size, infos[0].CRC) == (ZEROS, packed, crc)
        assert infos[0].header_offset == at1 and infos[1].header_offset == at2
        assert z.read("after.txt") == AFTER
        with z.open("zeros.bin") as r:
            assert r.read(3 * CHUNK) == bytes(3 * CHUNK)
    open(done, "w").close()


if __name__ == "__main__":
    main()
