#!/usr/bin/python3
"""Writes archives made by independent tools, for the reader's interop tests.

Usage: make_archives.py OUTDIR

OUTDIR/tree holds the files that were packed; every archive lies in OUTDIR
beside manifest.txt, whose lines read

    archive <TAB> password <TAB> name <TAB> kind <TAB> mtime <TAB> readonly

with kind "f" (a file, whose bytes are tree/<name>) or "d" (a folder), mtime
in seconds since 1970 (UTC) and readonly 0 or 1. Nothing here is committed:
CTest runs this script before the test program.
"""
import os
import random
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
READ_ONLY = {"data/locked.txt"}
PASSWORD = "PASS"


def make_tree(root):
    rng = random.Random(1234)
    FILES["docs/deep/noise.bin"] = bytes(rng.getrandbits(8) for _ in range(70000))
    for i, folder in enumerate(FOLDERS):
        os.makedirs(os.path.join(root, folder), exist_ok=True)
    times = {}
    for i, (name, data) in enumerate(sorted(FILES.items())):
        path = os.path.join(root, name)
        with open(path, "wb") as f:
            f.write(data)
        # Even seconds: DOS times keep two-second steps only.
        t = 1_600_000_000 + i * 86_400 * 17 + 2 * i
        os.utime(path, (t, t))
        times[name] = t
        if name in READ_ONLY:
            os.chmod(path, 0o444)
    for folder in sorted(FOLDERS, reverse=True):
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
    manifest = []

    def record(archive, password="", names=names):
        for name in names:
            kind = "d" if name.endswith("/") else "f"
            manifest.append("\t".join([archive, password, name, kind, str(times[name]),
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

    files = sorted(FILES)
    run = lambda *cmd: subprocess.run(cmd, cwd=root, check=True, stdout=subprocess.DEVNULL)
    run("7z", "a", "-tzip", "-mm=Deflate", "-mx=5", os.path.join(out, "7z_deflated.zip"), *FOLDERS, *files)
    record("7z_deflated.zip")
    run("7z", "a", "-tzip", "-p" + PASSWORD, "-mem=ZipCrypto", os.path.join(out, "7z_zipcrypto.zip"), *files)
    record("7z_zipcrypto.zip", PASSWORD, files)
    run("bsdtar", "--format", "zip", "-n", "-cf", os.path.join(out, "bsdtar.zip"), *FOLDERS, *files)
    record("bsdtar.zip")

    with open(os.path.join(out, "manifest.txt"), "w") as f:
        f.write("\n".join(manifest) + "\n")


if __name__ == "__main__":
    main()
