#!/usr/bin/env python3
"""Conformance tests of the library as a host meets it: through the
command-line host `quillon`, which loads the library file at run time and
binds its exports by name."""
import argparse
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), os.pardir, "support"))
import hostrun  # noqa: E402

def def_exports():
    """The export names in the order of the library's one export list."""
    path = os.path.join(os.path.dirname(os.path.abspath(__file__)), os.pardir, os.pardir, "src", "exports",
                        "libquillon.def")
    with open(path) as f:
        lines = [line.split(";")[0].strip() for line in f]
    return [line for line in lines[lines.index("EXPORTS") + 1:] if line]


EXPORTS = def_exports()

OPTS = None


def quillon(*args, hex_args=False, check=True, cwd=None):
    """Runs the host; returns (status, stdout bytes, stderr text)."""
    status, out, err = hostrun.run(OPTS.runner, OPTS.quillon, *((["-x"] if hex_args else []) + list(args)), cwd=cwd)
    return status, out, err.decode("utf-8", "replace")


def host_path(path):
    return hostrun.host_path(OPTS.runner, path)


class Frame(unittest.TestCase):
    def test_add_prints_shortest_form(self):
        self.assertEqual(quillon("add", "1.5", "2.25")[:2], (0, b"3.75\n"))
        self.assertEqual(quillon("add", "1", "0")[:2], (0, b"1\n"))
        self.assertEqual(quillon("add", "0.1", "0.2")[:2], (0, b"0.30000000000000004\n"))
        self.assertEqual(quillon("add", "-2", "2")[:2], (0, b"0\n"))

    def test_usage_errors_exit_64(self):
        status, out, err = quillon("nosuch")
        self.assertEqual(status, 64)
        self.assertEqual(out, b"")
        self.assertEqual(len(err.strip().splitlines()), 1)
        self.assertEqual(quillon("add", "1")[0], 64)
        self.assertEqual(quillon("add", "1", "x")[0], 64)
        self.assertEqual(quillon("RMDIR2")[0], 64)

    def test_null_text_exits_2(self):
        with tempfile.TemporaryDirectory() as d:
            status, out, _ = quillon("makeBuffer", host_path(os.path.join(d, "missing")))
            self.assertEqual((status, out), (2, b""))

    def test_list_names_every_export(self):
        status, out, _ = quillon("--list")
        self.assertEqual(status, 0)
        names = [line.split()[0] for line in out.decode().splitlines()]
        self.assertEqual(names, EXPORTS)

    def test_help_and_version(self):
        for flag in ("--help", "-h"):
            status, out, _ = quillon(flag)
            self.assertEqual(status, 0)
            lines = out.decode().splitlines()
            self.assertTrue(lines[0].startswith("usage: quillon"))
            listed = lines[lines.index("Exports:") + 1:]
            self.assertEqual([line.split()[0] for line in listed], EXPORTS)
        # Read from the library file: its version resource on Windows.
        self.assertEqual(quillon("--version")[:2], (0, b"libquillon 0.1.1.218\n"))

    def test_text_results_are_raw_bytes(self):
        with tempfile.TemporaryDirectory() as d:
            path = os.path.join(d, "crlf.txt")
            with open(path, "wb") as f:
                f.write(b"\xe9t\xe9\r\nnext")
            status, out, _ = quillon("makeBuffer", host_path(path))
            self.assertEqual((status, out), (0, b"\xe9t\xe9\r\n\n"))
            status, out, _ = quillon("makeBuffer", host_path(path).encode("latin-1").hex(), hex_args=True)
            self.assertEqual((status, out), (0, b"\xe9t\xe9\r\n\n"))

    def test_file_helpers(self):
        with tempfile.TemporaryDirectory() as d:
            src, dst = os.path.join(d, "in"), os.path.join(d, "out")
            with open(src, "wb") as f:
                f.write(bytes([97, 13, 10, 98, 10]))
            self.assertEqual(quillon("T2GMT", host_path(src), host_path(dst))[:2], (0, b"1\n"))
            with open(dst, "rb") as f:
                self.assertEqual(f.read(), bytes([97, 13, 35, 98, 35]))
            self.assertEqual(quillon("T2GMT", host_path(src + "x"), host_path(dst + "x"))[:2], (0, b"0\n"))
            self.assertFalse(os.path.exists(dst + "x"))

    def test_rmdir_prints_and_deletes_files_only(self):
        with tempfile.TemporaryDirectory() as d:
            for name in ("a.txt", "b.txt"):
                open(os.path.join(d, name), "w").close()
            os.mkdir(os.path.join(d, "sub"))
            open(os.path.join(d, "sub", "c.txt"), "w").close()
            status, out, _ = quillon("RMDIR", cwd=d)
            self.assertEqual(status, 0)
            lines = out.decode().splitlines()
            self.assertEqual(lines[-1], "1")
            self.assertEqual(sorted(lines[:-1]), [".", "..", "a.txt", "b.txt", "sub"])
            self.assertEqual(sorted(os.listdir(d)), ["sub"])
            self.assertEqual(os.listdir(os.path.join(d, "sub")), ["c.txt"])

    def test_zip_that_cannot_write_its_archive_removes_it(self):
        # A file size limit stands for a full disk: the archive's writes
        # fail past 64 KiB. The result says so, and no damaged archive stays.
        if OPTS.runner:
            self.skipTest("the size limit is set on a Linux process")
        import resource
        import signal

        def limit():
            signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
            resource.setrlimit(resource.RLIMIT_FSIZE, (64 << 10, 64 << 10))

        with tempfile.TemporaryDirectory() as d:
            with open(os.path.join(d, "noise.bin"), "wb") as f:
                f.write(os.urandom(60 << 10))
            with open(os.path.join(d, "more.bin"), "wb") as f:
                f.write(os.urandom(60 << 10))
            for threads in ("1", "8"):
                p = subprocess.run([OPTS.quillon, "ZIP", "out.zip", "."], cwd=d, stdout=subprocess.PIPE,
                                   preexec_fn=limit, env=dict(os.environ, QUILLON_THREADS=threads), timeout=300)
                self.assertEqual(p.stdout.decode().splitlines()[-1], "0", threads)
                self.assertFalse(os.path.exists(os.path.join(d, "out.zip")), threads)
            p = subprocess.run([OPTS.quillon, "ZIP", "out.zip", "."], cwd=d, stdout=subprocess.PIPE, timeout=300)
            self.assertEqual(p.stdout.decode().splitlines()[-1], "1")


def main():
    global OPTS
    ap = argparse.ArgumentParser()
    ap.add_argument("--quillon", required=True)
    ap.add_argument("--runner", default="")
    OPTS, rest = ap.parse_known_args()
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)


if __name__ == "__main__":
    main()
