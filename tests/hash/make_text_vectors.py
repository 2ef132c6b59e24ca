#!/usr/bin/env python3
"""Writes OUT: 10,000 seeded random texts (lengths 0 to 300, bytes 1 to 255),
one a line as "HEX MD5 SHA1", the digests from Python's hashlib."""
import hashlib
import random
import sys


def main():
    if len(sys.argv) != 2:
        print(__doc__, file=sys.stderr)
        return 64
    rng = random.Random(20240601)
    lengths = [0, 1, 55, 56, 63, 64, 65, 119, 120, 127, 128, 300]
    lengths += [rng.randint(0, 300) for _ in range(10000 - len(lengths))]
    with open(sys.argv[1], "w", encoding="ascii", newline="\n") as out:
        for n in lengths:
            text = bytes(rng.randint(1, 255) for _ in range(n))
            out.write("%s %s %s\n" % (text.hex() or "-", hashlib.md5(text).hexdigest(),
                                       hashlib.sha1(text).hexdigest()))
    return 0


if __name__ == "__main__":
    sys.exit(main())
