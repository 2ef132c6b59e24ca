#!/usr/bin/env python3
"""The digest exports as a host meets them, through the command-line host
(under Wine for the Windows build)."""
import argparse
import hashlib
import os
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), os.pardir, "support"))
import hostrun  # noqa: E402

OPTS = None


def quillon(*args):
    return hostrun.run(OPTS.runner, OPTS.quillon, *args)[:2]


class HashCli(unittest.TestCase):
    def test_abc(self):
        self.assertEqual(quillon("HASHmd5", "abc"), (0, b"900150983cd24fb0d6963f7d28e17f72\n"))
        self.assertEqual(quillon("HASHsha1", "abc"), (0, b"a9993e364706816aba3e25717850c26c9cd0d89d\n"))

    def test_empty_and_high_bytes(self):
        self.assertEqual(quillon("HASHmd5", ""), (0, b"d41d8cd98f00b204e9800998ecf8427e\n"))
        self.assertEqual(quillon("HASHsha1", ""), (0, b"da39a3ee5e6b4b0d3255bfef95601890afd80709\n"))
        text = bytes(range(1, 256))
        self.assertEqual(quillon("-x", "HASHmd5", text.hex()),
                         (0, hashlib.md5(text).hexdigest().encode() + b"\n"))
        self.assertEqual(quillon("-x", "HASHsha1", text.hex()),
                         (0, hashlib.sha1(text).hexdigest().encode() + b"\n"))


def main():
    global OPTS
    parser = argparse.ArgumentParser()
    parser.add_argument("--quillon", required=True)
    parser.add_argument("--runner", default="")
    OPTS, rest = parser.parse_known_args()
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)


if __name__ == "__main__":
    main()
