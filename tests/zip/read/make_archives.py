#!/usr/bin/python3
"""Writes archives made by independent tools, for the reader's interop tests.

Usage: make_archives.py OUTDIR

OUTDIR/tree holds the files that were packed; every archive lies in OUTDIR
beside manifest.txt, whose lines read

    archive <TAB> password <TAB> name <TAB> kind <TAB> mtime <TAB> readonly

with kind "f" (a file, whose bytes are tree/<name>) or "d" (a folder), mtime
in seconds since 1970 (UTC, 0 when the tool stamps the time of packing; the
extracted file's or folder's write time is compared with it otherwise) and
readonly 0 or 1. Names are UTF-8. Nothing here is committed: CTest runs this
script before the test program.

Besides the manifest's archives: py_many.zip (70,000 entries, so a Zip64 end
record) and infozip_modes.zip (Unix permissions and a symbolic link, the
files of modes/).
"""
import io
import os
import random
import struct
import shutil
import stat
import subprocess
import sys
import zipfile

os.environ["TZ"] = "UTC"

FILES = {
    "hello.txt": b"Hello, archive!\n" * 3,
    "empty.dat": b"",
    "docs/readme.md": b"# Readme\n\n" + b"Lines of text that compress well.\n" * 400,
    "docs/deep/noise.bin": None,  # random bytes, filled below
    "data/table.csv": b"".join(b"%d,%d,%s\n" % (i, i * i, b"x" * (i % 13)) for i in range(3000)),
    "data/locked.txt": b"a read-only file\n",
}
FOLDERS = ["docs/", "docs/deep/", "data/", "void/"]
# Names outside ASCII, for the archives that mark them as UTF-8 (bit 11).
NAMES = {
    "café.txt": "un café noir\n".encode(),
    "résumé/naïve.txt": b"naive\n" * 50,
    "日本語のファイル.txt": "日本語のテキスト\n".encode() * 20,
    "Ελληνικά/κείμενο.txt": "κείμενο\n".encode() * 30,
}
NAME_FOLDERS = ["résumé/", "Ελληνικά/"]
READ_ONLY = {"data/locked.txt"}
PASSWORD = "PASS"


def make_tree(root):
    rng = random.Random(1234)
    FILES["docs/deep/noise.bin"] = bytes(rng.getrandbits(8) for _ in range(70000))
    for i, folder in enumerate(FOLDERS):
        os.makedirs(os.path.join(root, folder), exist_ok=True)
    times = {}
    for folder in NAME_FOLDERS:
        os.makedirs(os.path.join(root, folder), exist_ok=True)
    for i, (name, data) in enumerate(sorted(FILES.items()) + sorted(NAMES.items())):
        path = os.path.join(root, name)
        with open(path, "wb") as f:
            f.write(data)
        # Even seconds: DOS times keep two-second steps only.
        t = 1_600_000_000 + i * 86_400 * 17 + 2 * i
        os.utime(path, (t, t))
        times[name] = t
        if name in READ_ONLY:
            os.chmod(path, 0o444)
    for folder in sorted(FOLDERS + NAME_FOLDERS, reverse=True):
        t = 1_650_000_000
        os.utime(os.path.join(root, folder), (t, t))
        times[folder] = t
    return times


def python_archive(path, root, method, comment=b"", mode="w"):
    with zipfile.ZipFile(path, mode, method, compresslevel=8 if method == zipfile.ZIP_DEFLATED else None) as z:
        for folder in FOLDERS:
            z.write(os.path.join(root, folder), folder)
        for name in sorted(FILES):
            z.write(os.path.join(root, name), name)
        z.comment = comment


def ntfs_block(mtime, atime, ctime):
    """The NTFS extra block (tag 0x000a): reserved bytes, then attribute 1
    with the modification, access and creation time as Windows file times."""
    ticks = lambda t: (t + 11_644_473_600) * 10_000_000
    return struct.pack("<HHIHHQQQ", 0x000A, 32, 0, 1, 24, ticks(mtime), ticks(atime), ticks(ctime))


def unix_block(mtime, atime, ids):
    """Info-ZIP's older Unix block (tag 0x5855): access and modification
    time, then (in a local header) the user and group id."""
    data = struct.pack("<II", atime, mtime) + (struct.pack("<HH", 1000, 1000) if ids else b"")
    return struct.pack("<HH", 0x5855, len(data)) + data


def retag(body, tag, local):
    """The archive `body` (no comment, nothing before it) with the blocks
    `tag` of every local header, or of every central record, given a tag no
    reader knows: the block then stands in the other record only."""
    data = bytearray(body)
    count, dir_at = struct.unpack("<H4xI", data[-12:-2])

    def rename(extra_at, extra_length):
        p = extra_at
        while p + 4 <= extra_at + extra_length:
            block_tag, size = struct.unpack("<HH", data[p:p + 4])
            if block_tag == tag:
                data[p:p + 2] = struct.pack("<H", 0x5151)
            p += 4 + size

    p = dir_at
    for _ in range(count):
        assert data[p:p + 4] == b"PK\x01\x02"
        name_length, extra_length, comment_length = struct.unpack("<HHH", data[p + 28:p + 34])
        if local:
            (header,) = struct.unpack("<I", data[p + 42:p + 46])
            n, x = struct.unpack("<HH", data[header + 26:header + 30])
            rename(header + 30 + n, x)
        else:
            rename(p + 46 + name_length, extra_length)
        p += 46 + name_length + extra_length + comment_length
    return bytes(data)


def python_times_archive(path, root, times, block_of, tag, keep_local):
    """Folders and files whose times stand only in the extra block that
    `block_of` makes for an entry's modification time (kept in the local
    headers or in the central records only), under a DOS stamp of
    1980-01-01 that no entry has."""
    buf = io.BytesIO()
    with zipfile.ZipFile(buf, "w") as z:
        for name in FOLDERS + sorted(FILES):
            info = zipfile.ZipInfo.from_file(os.path.join(root, name), name)
            info.date_time = (1980, 1, 1, 0, 0, 0)
            info.extra = block_of(times[name])
            if info.is_dir():
                z.writestr(info, b"")
            else:
                with open(os.path.join(root, name), "rb") as src:
                    z.writestr(info, src.read(), zipfile.ZIP_DEFLATED)
    with open(path, "wb") as f:
        f.write(retag(buf.getvalue(), tag, local=not keep_local))


def python_false_locator(path, root):
    """The last member's comment, just before the end record, reads like a
    Zip64 end locator (for 7 disks); no field of the end record is a marker,
    so the locator is none."""
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as z:
        for folder in FOLDERS:
            z.write(os.path.join(root, folder), folder)
        for name in sorted(FILES):
            z.write(os.path.join(root, name), name)
        z.infolist()[-1].comment = struct.pack("<IIQI", 0x07064B50, 3, 0, 7)
    with open(path, "rb") as f:
        assert f.read()[-42:-22][:4] == b"PK\x06\x07"


def python_zip64(path, root):
    """Every file through ZipFile.open(force_zip64=True): Zip64 sizes in the
    local headers, 32-bit ones in the central directory."""
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as z:
        for folder in FOLDERS + NAME_FOLDERS:
            z.write(os.path.join(root, folder), folder)
        for name in sorted(FILES) + sorted(NAMES):
            info = zipfile.ZipInfo.from_file(os.path.join(root, name), name)
            info.compress_type = zipfile.ZIP_DEFLATED
            with open(os.path.join(root, name), "rb") as src, z.open(info, "w", force_zip64=True) as dst:
                shutil.copyfileobj(src, dst)


def with_zip64_end(body, prefix=b""):
    """The archive `body` (no comment) with a Zip64 end record and locator
    before its end record, whose fields then hold the Zip64 markers."""
    end = body[-22:]
    assert end[:4] == b"PK\x05\x06"
    _, disk, dir_disk, here, total, size, offset, comment = struct.unpack("<IHHHHIIH", end)
    z64_at = len(body) - 22
    record = struct.pack("<IQHHIIQQQQ", 0x06064B50, 44, 0x031E, 45, 0, 0, here, total, size, offset)
    locator = struct.pack("<IIQI", 0x07064B50, 0, z64_at, 1)
    marked = struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, 0xFFFF, 0xFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0)
    return prefix + body[:-22] + record + locator + marked


def main():
    out = os.path.abspath(sys.argv[1])
    if os.path.isdir(out):
        for dirpath, dirs, files in os.walk(out):
            for n in dirs + files:
                os.chmod(os.path.join(dirpath, n), 0o755)
        shutil.rmtree(out)
    root = os.path.join(out, "tree")
    os.makedirs(root)
    times = make_tree(root)
    names = sorted(FILES) + FOLDERS
    utf8_names = names + sorted(NAMES) + NAME_FOLDERS
    manifest = []

    def record(archive, password="", names=names, stamped=()):
        for name in names:
            kind = "d" if name.endswith("/") else "f"
            mtime = 0 if name in stamped else times[name]
            manifest.append("\t".join([archive, password, name, kind, str(mtime),
                                       "1" if name in READ_ONLY else "0"]))

    python_archive(os.path.join(out, "py_deflated.zip"), root, zipfile.ZIP_DEFLATED, b"an archive comment")
    record("py_deflated.zip")
    python_archive(os.path.join(out, "py_stored.zip"), root, zipfile.ZIP_STORED)
    record("py_stored.zip")

    # Data before the archive, its offsets counted from the archive's start
    # (as in a self-extractor) ...
    with open(os.path.join(out, "py_deflated.zip"), "rb") as f:
        body = f.read()
    with open(os.path.join(out, "prefixed_relative.zip"), "wb") as f:
        f.write(b"#!/bin/sh\necho this is not an archive\nexit 0\n" + body)
    record("prefixed_relative.zip")
    # ... and from the file's start, as zipfile writes when it appends.
    with open(os.path.join(out, "prefixed_absolute.zip"), "wb") as f:
        f.write(b"leading data " * 100)
    python_archive(os.path.join(out, "prefixed_absolute.zip"), root, zipfile.ZIP_DEFLATED, mode="a")
    record("prefixed_absolute.zip")

    # Zip64: sizes in local headers (Python), an end record with markers
    # (also behind other data, where the locator's offset is off by it).
    python_zip64(os.path.join(out, "py_zip64.zip"), root)
    record("py_zip64.zip", names=utf8_names)
    with open(os.path.join(out, "py_stored.zip"), "rb") as f:
        stored = f.read()
    with open(os.path.join(out, "zip64_end.zip"), "wb") as f:
        f.write(with_zip64_end(stored))
    record("zip64_end.zip")
    with open(os.path.join(out, "zip64_end_prefixed.zip"), "wb") as f:
        f.write(with_zip64_end(stored, b"MZ stub " * 64))
    record("zip64_end_prefixed.zip")
    python_false_locator(os.path.join(out, "py_false_locator.zip"), root)
    record("py_false_locator.zip")
    # The longest comment the end record can announce.
    python_archive(os.path.join(out, "py_comment_max.zip"), root, zipfile.ZIP_DEFLATED, b"#" * 65535)
    record("py_comment_max.zip")
    # Names outside ASCII, which Python marks as UTF-8.
    with zipfile.ZipFile(os.path.join(out, "py_names.zip"), "w", zipfile.ZIP_DEFLATED) as z:
        for folder in NAME_FOLDERS:
            z.write(os.path.join(root, folder), folder)
        for name in sorted(NAMES):
            z.write(os.path.join(root, name), name)
    record("py_names.zip", names=sorted(NAMES) + NAME_FOLDERS)

    # Times only in the NTFS block of the central records (as 7-Zip writes
    # it), or only in the 0x5855 block of the local headers (as older
    # Info-ZIP and macOS tools write it, with the ids).
    python_times_archive(os.path.join(out, "py_ntfs.zip"), root, times,
                         lambda t: ntfs_block(t, t + 1, t - 86_400), 0x000A, keep_local=False)
    record("py_ntfs.zip")
    python_times_archive(os.path.join(out, "py_unix_times.zip"), root, times,
                         lambda t: unix_block(t, t + 1, ids=True), 0x5855, keep_local=True)
    record("py_unix_times.zip")

    # More than 65,535 entries: a Zip64 end record with the true count.
    with zipfile.ZipFile(os.path.join(out, "py_many.zip"), "w", zipfile.ZIP_STORED) as z:
        for i in range(70000):
            z.writestr(zipfile.ZipInfo("many/%05d.txt" % i, (2020, 1, 1, 0, 0, 0)), b"%d\n" % i)

    files = sorted(FILES)
    run = lambda *cmd, **kw: subprocess.run(cmd, cwd=root, check=True, stdout=subprocess.DEVNULL, **kw)
    run("7z", "a", "-tzip", "-mm=Deflate", "-mx=5", os.path.join(out, "7z_deflated.zip"), *FOLDERS, *files)
    record("7z_deflated.zip")
    run("7z", "a", "-tzip", "-p" + PASSWORD, "-mem=ZipCrypto", os.path.join(out, "7z_zipcrypto.zip"), *files)
    record("7z_zipcrypto.zip", PASSWORD, files)
    run("bsdtar", "--format", "zip", "-n", "-cf", os.path.join(out, "bsdtar.zip"), *FOLDERS, *files)
    record("bsdtar.zip")
    run("7z", "a", "-tzip", os.path.join(out, "7z_names.zip"), *NAME_FOLDERS, *sorted(NAMES))
    record("7z_names.zip", names=sorted(NAMES) + NAME_FOLDERS)

    # Info-ZIP's zip: a folder tree, then a file from a pipe (an entry named
    # "-", with Zip64 sizes in its local header, stamped with the time of
    # packing); every entry forced to Zip64 (-fz); traditional encryption.
    iz = os.path.join(out, "infozip_pipe.zip")
    run("zip", "-q", "-X", iz, *FOLDERS, *files)
    with open(os.path.join(root, "hello.txt"), "rb") as src:
        run("zip", "-q", iz, "-", stdin=src)
    shutil.copy(os.path.join(root, "hello.txt"), os.path.join(root, "-"))
    record("infozip_pipe.zip", names=names + ["-"], stamped=("-",))
    run("zip", "-q", "-X", "-fz", os.path.join(out, "infozip_fz.zip"), *FOLDERS, *files)
    record("infozip_fz.zip")
    run("zip", "-q", "-X", "-P", PASSWORD, os.path.join(out, "infozip_zipcrypto.zip"), *files)
    record("infozip_zipcrypto.zip", PASSWORD, files)

    # Unix permissions, and a symbolic link (-y keeps it a link).
    modes = os.path.join(out, "modes")
    os.makedirs(modes)
    for name, mode in (("run.sh", 0o755), ("private.txt", 0o640), ("setuid.bin", 0o4755), ("open.txt", 0o666)):
        with open(os.path.join(modes, name), "wb") as f:
            f.write(b"#!/bin/sh\necho %s\n" % name.encode())
        os.chmod(os.path.join(modes, name), mode)
    os.symlink("run.sh", os.path.join(modes, "link"))
    subprocess.run(["zip", "-q", "-X", "-y", os.path.join(out, "infozip_modes.zip"),
                    "run.sh", "private.txt", "setuid.bin", "open.txt", "link"],
                   cwd=modes, check=True, stdout=subprocess.DEVNULL)
    # A file read from a pipe: the entry "-" keeps the pipe's mode, 010600.
    subprocess.run(["zip", "-q", os.path.join(out, "infozip_modes.zip"), "-"], input=b"from a pipe\n",
                   cwd=modes, check=True, stdout=subprocess.DEVNULL)

    with open(os.path.join(out, "manifest.txt"), "w") as f:
        f.write("\n".join(manifest) + "\n")


if __name__ == "__main__":
    main()
