#!/usr/bin/env python3
"""Checks the archives that interop_write left in a folder with the usual
tools: each must pass `unzip -t`, `7z t` and zipfile's testzip, and extract
with unzip, 7z, bsdtar and zipfile to exactly its NAME.expected/ tree.
Passwords come from NAME.info, options from its second line: "test-only"
(no extraction), "names" (every tool must also list every name right)."""
import argparse
import hashlib
import os
import shutil
import subprocess
import sys
import tempfile
import unittest
import zipfile
import zlib

FOLDER = None
MIN_ARCHIVES = 10
# The tools turn names into file names by the locale: a UTF-8 one, so that
# no name is mangled on the way.
ENV = dict(os.environ, LC_ALL="C.UTF-8", LANG="C.UTF-8")


def run(cmd):
    p = subprocess.run(cmd, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                       timeout=3600, env=ENV)
    return p.returncode, p.stdout.decode("utf-8", "replace")


def digest(path):
    h = hashlib.sha1()
    with open(path, "rb") as f:
        for chunk in iter(lambda: f.read(1 << 20), b""):
            h.update(chunk)
    return os.path.getsize(path), h.hexdigest()


def tree(root):
    """Files with their size and digest, and folders, below root (relative names)."""
    files, folders = {}, set()
    for here, dirs, names in os.walk(root):
        rel = os.path.relpath(here, root)
        for d in dirs:
            folders.add(os.path.normpath(os.path.join(rel, d)))
        for n in names:
            files[os.path.normpath(os.path.join(rel, n))] = digest(os.path.join(here, n))
    return files, folders


def listing(tool, path):
    """The entry names a tool lists, folders without their trailing slash."""
    if tool == "zipfile":
        with zipfile.ZipFile(path) as z:
            names = z.namelist()
    elif tool == "unzip":
        status, out = run(["unzip", "-Z1", path])
        assert status == 0, out
        names = out.splitlines()
    elif tool == "7z":
        status, out = run(["7z", "l", "-slt", "-ba", path])
        assert status == 0, out
        names = [line[len("Path = "):] for line in out.splitlines() if line.startswith("Path = ")]
    else:
        status, out = run(["bsdtar", "-t", "-f", path])
        assert status == 0, out
        names = out.splitlines()
    return sorted(n.rstrip("/") for n in names)


def archives():
    for name in sorted(os.listdir(FOLDER)):
        if name.endswith(".zip"):
            stem = name[:-4]
            with open(os.path.join(FOLDER, stem + ".info")) as f:
                lines = f.read().split("\n")
            password = None if lines[0] == "-" else lines[0]
            yield stem, os.path.join(FOLDER, name), password, lines[1].split()


TOOLS = ["unzip", "7z", "bsdtar", "zipfile"]


def extract(tool, path, password, out):
    if tool == "unzip":
        pw = [] if password is None else ["-P", password]
        return run(["unzip", "-o", "-q"] + pw + [path, "-d", out])
    if tool == "7z":
        return run(["7z", "x", "-y", "-p" + (password or ""), "-o" + out, path])
    if tool == "bsdtar":
        pw = [] if password is None else ["--passphrase", password]
        return run(["bsdtar", "-x", "-f", path, "-C", out] + pw)
    with zipfile.ZipFile(path) as z:
        z.extractall(out, pwd=None if password is None else password.encode("latin-1"))
    return 0, ""


class Archives(unittest.TestCase):
    def test_found(self):
        self.assertGreaterEqual(len(list(archives())), MIN_ARCHIVES)

    def test_tools_list_every_name(self):
        for stem, path, _, options in archives():
            if "names" not in options:
                continue
            files, folders = tree(os.path.join(FOLDER, stem + ".expected"))
            want = sorted(n.replace(os.sep, "/") for n in list(files) + list(folders))
            for tool in TOOLS:
                with self.subTest(archive=stem, tool=tool):
                    self.assertEqual(listing(tool, path), want)

    def test_tools_find_no_error(self):
        for stem, path, password, _ in archives():
            with self.subTest(archive=stem):
                pw = [] if password is None else ["-P", password]
                status, out = run(["unzip", "-t", "-q"] + pw + [path])
                self.assertEqual(status, 0, out)
                status, out = run(["7z", "t", "-p" + (password or ""), path])
                self.assertEqual(status, 0, out)
                self.assertIn("Everything is Ok", out)
                with zipfile.ZipFile(path) as z:
                    if password is not None:
                        z.setpassword(password.encode("latin-1"))
                    self.assertIsNone(z.testzip())

    def test_extractions_are_byte_exact(self):
        for stem, path, password, options in archives():
            if "test-only" in options:
                continue
            want = tree(os.path.join(FOLDER, stem + ".expected"))
            for tool in TOOLS:
                with self.subTest(archive=stem, tool=tool), tempfile.TemporaryDirectory() as out:
                    status, text = extract(tool, path, password, out)
                    self.assertEqual(status, 0, text)
                    got = tree(out)
                    self.assertEqual(sorted(got[0]), sorted(want[0]))
                    for name, data in want[0].items():
                        self.assertEqual(got[0][name], data, name)
                    self.assertEqual(got[1], want[1])

    def test_wrong_password_is_refused(self):
        for stem, path, password, _ in archives():
            if password is None:
                continue
            with self.subTest(archive=stem), zipfile.ZipFile(path) as z:
                # The check byte refuses most wrong passwords; the CRC the rest.
                with self.assertRaises((RuntimeError, zipfile.BadZipFile, zlib.error)):
                    z.read("text.txt", pwd=b"not it")


def main():
    global FOLDER, MIN_ARCHIVES
    parser = argparse.ArgumentParser()
    parser.add_argument("folder")
    parser.add_argument("--min-archives", type=int, default=MIN_ARCHIVES)
    args, rest = parser.parse_known_args()
    FOLDER = args.folder
    MIN_ARCHIVES = args.min_archives
    if shutil.which("7z") is None or shutil.which("unzip") is None or shutil.which("bsdtar") is None:
        print("unzip, 7z and bsdtar are needed")
        return 1
    return 0 if unittest.main(argv=[sys.argv[0]] + rest, exit=False, verbosity=2).result.wasSuccessful() else 1


if __name__ == "__main__":
    sys.exit(main())
