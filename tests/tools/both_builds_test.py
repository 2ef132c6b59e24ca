#!/usr/bin/env python3
"""The Linux and the Windows build pack one folder into one archive: the
same entries in the same order with the same bytes, apart from the fields
that each system fills in from what it keeps about a file (the Unix mode in
the high half of the external attributes, and the access and creation
times of the extended-timestamp block). Exits 77 (skipped) when the
Windows build or Wine's 64-bit loader is not at hand."""
import argparse
import os
import stat
import struct
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), os.pardir, "support"))
import hostrun  # noqa: E402

SKIP = 77


def make_tree(d):
    """Files of every kind the writer treats apart, under names whose byte
    order differs from the order the file system lists them in."""
    files = {
        "b.txt": b"plain text, deflated\n" * 400,
        "A.txt": b"upper case sorts first",
        "_under": bytes(range(256)) * 64,
        "empty": b"",
        "run.sh": b"#!/bin/sh\necho hello\n",
        "read-only.txt": b"not to be written",
        "noise.bin": os.urandom(70000),
    }
    for name, data in files.items():
        with open(os.path.join(d, name), "wb") as f:
            f.write(data)
    os.chmod(os.path.join(d, "run.sh"), 0o755)
    os.chmod(os.path.join(d, "read-only.txt"), 0o444)
    # One time for every file, so that a file written a second later than
    # another cannot differ between the runs.
    for name in files:
        os.utime(os.path.join(d, name), (1_700_000_000, 1_700_000_000))


def blocks(extra):
    """The (tag, offset, data) of each block of an extra field."""
    out, at = [], 0
    while at + 4 <= len(extra):
        tag, size = struct.unpack_from("<HH", extra, at)
        out.append((tag, at + 4, extra[at + 4:at + 4 + size]))
        at += 4 + size
    return out


def masked(archive):
    """The archive's bytes with the system-filled fields zeroed, and a
    description of each entry for the failure message."""
    data = bytearray(archive)
    end = data.rfind(b"PK\x05\x06")
    count, _, central = struct.unpack_from("<HII", data, end + 10)
    names, at = [], central
    for _ in range(count):
        assert data[at:at + 4] == b"PK\x01\x02", "a central record where the end record says"
        n, m, k = struct.unpack_from("<HHH", data, at + 28)
        local = struct.unpack_from("<I", data, at + 42)[0]
        names.append(bytes(data[at + 46:at + 46 + n]).decode())
        data[at + 40:at + 42] = b"\0\0"  # the high half of the external attributes: the Unix mode
        ln, lm = struct.unpack_from("<HH", data, local + 26)
        for extra_at, size in ((at + 46 + n, m), (local + 30 + ln, lm)):
            for tag, off, block in blocks(bytes(data[extra_at:extra_at + size])):
                if tag == 0x5455 and len(block) > 5:  # keep the flags and the modification time
                    data[extra_at + off + 5:extra_at + off + len(block)] = bytes(len(block) - 5)
        at += 46 + n + m + k
    return bytes(data), names


def pack(runner, quillon, folder, archive):
    status, out, err = hostrun.run(runner, quillon, "ZIP", archive, ".", cwd=folder)
    if status != 0 or out.splitlines()[-1:] != [b"1"]:
        raise AssertionError(f"{quillon} ZIP: status {status}, {out!r} {err!r}")
    with open(os.path.join(folder, archive), "rb") as f:
        return f.read()


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--linux", required=True, help="the Linux build's quillon")
    ap.add_argument("--windows", required=True, help="the Windows build's quillon.exe")
    ap.add_argument("--wine", required=True, help="the Wine loader that starts it")
    opts = ap.parse_args()
    opts.linux, opts.windows = os.path.abspath(opts.linux), os.path.abspath(opts.windows)
    for path in (opts.windows, opts.wine):
        if not os.path.exists(path):
            print(f"skipped: {path} is not at hand")
            return SKIP
    with tempfile.TemporaryDirectory() as d:
        tree = os.path.join(d, "tree")
        os.mkdir(tree)
        make_tree(tree)
        linux = pack("", opts.linux, tree, "../linux.zip")
        windows = pack(opts.wine, opts.windows, tree, "../windows.zip")
        os.chmod(os.path.join(tree, "read-only.txt"), stat.S_IWUSR | stat.S_IRUSR)
    a, names = masked(linux)
    b, other = masked(windows)
    if names != sorted(names, key=lambda s: s.encode()) or names != other:
        print(f"FAIL: entries {names} against {other}")
        return 1
    if a != b:
        first = next(i for i in range(min(len(a), len(b))) if a[i] != b[i]) if len(a) == len(b) else None
        print(f"FAIL: {len(linux)} and {len(windows)} bytes, first difference at {first}")
        return 1
    print(f"one archive from both builds: {len(names)} entries, {len(linux)} bytes, "
          f"{sum(x != y for x, y in zip(linux, windows))} bytes of system fields apart")
    return 0


if __name__ == "__main__":
    sys.exit(main())
