#!/usr/bin/env python3
"""The built library file as a host's loader sees it, read without running
anything (so it checks a DLL on a machine that cannot start it):

- it exports exactly the names of libquillon.def, undecorated;
- a DLL is for the machine its build targets, carries no link time, imports
  nothing beyond the system DLLs (no MinGW runtime DLL to ship beside it)
  and has its version record;
- with --compare, every other library file named exports the same names.

    artefact_test.py --library FILE --def DEF [--machine i386|i386:x86-64] [--compare FILE...]

A file to compare with that is not there (its build not made) makes the
test skip with status 77.
"""
import argparse
import os
import re
import struct
import subprocess
import sys
import unittest

OPTS = None
# The PE machine field for each name the toolchain files use.
MACHINES = {"i386": 0x14C, "i386:x86-64": 0x8664}
PE32, PE32_PLUS = 0x10B, 0x20B
SYSTEM_DLLS = {"kernel32.dll", "msvcrt.dll", "user32.dll", "gdi32.dll"}


def def_exports(path):
    names, in_exports = [], False
    for line in open(path):
        line = line.split(";")[0].strip()
        if line == "EXPORTS":
            in_exports = True
        elif in_exports and line:
            names.append(line.split()[0])
    return names


class PeFile:
    """The few parts of a PE image the checks need: the file header, the
    export names and the imported DLLs."""

    def __init__(self, path):
        with open(path, "rb") as f:
            self.data = data = f.read()
        if data[:2] != b"MZ":
            raise ValueError(f"{path} is not a PE file")
        pe, = struct.unpack_from("<I", data, 0x3C)
        if data[pe:pe + 4] != b"PE\0\0":
            raise ValueError(f"{path} has no PE signature")
        (self.machine, sections, self.link_time, _, _, optional_size,
         self.characteristics) = struct.unpack_from("<HHIIIHH", data, pe + 4)
        optional = pe + 24
        self.magic, = struct.unpack_from("<H", data, optional)
        directories = optional + (96 if self.magic == PE32 else 112)
        count, = struct.unpack_from("<I", data, directories - 4)
        self.directories = [struct.unpack_from("<II", data, directories + 8 * i) for i in range(count)]
        self.sections = []
        for i in range(sections):
            at = optional + optional_size + 40 * i
            size, rva, raw_size, raw = struct.unpack_from("<IIII", data, at + 8)
            self.sections.append((rva, max(size, raw_size), raw))

    def offset(self, rva):
        for start, size, raw in self.sections:
            if start <= rva < start + size:
                return raw + rva - start
        raise ValueError(f"RVA {rva:#x} lies in no section")

    def text(self, rva):
        at = self.offset(rva)
        return self.data[at:self.data.index(b"\0", at)].decode("ascii")

    def export_names(self):
        rva, size = self.directories[0]
        if not size:
            return []
        at = self.offset(rva)
        # IMAGE_EXPORT_DIRECTORY: NumberOfNames at 24, AddressOfNames at 32.
        count, = struct.unpack_from("<I", self.data, at + 24)
        names, = struct.unpack_from("<I", self.data, at + 32)
        return [self.text(struct.unpack_from("<I", self.data, self.offset(names) + 4 * i)[0]) for i in range(count)]

    def imported_dlls(self):
        rva, size = self.directories[1]
        out = []
        at = self.offset(rva) if size else None
        while at is not None:
            descriptor = struct.unpack_from("<IIIII", self.data, at)
            if not any(descriptor):
                break
            out.append(self.text(descriptor[3]))
            at += 20
        return out


def exported_names(path):
    if path.endswith(".dll"):
        return PeFile(path).export_names()
    out = subprocess.run(["nm", "-D", "--defined-only", path], stdout=subprocess.PIPE, check=True).stdout.decode()
    return [line.split()[-1] for line in out.splitlines() if line.strip()]


class Exports(unittest.TestCase):
    def test_exports_are_exactly_the_table(self):
        want = def_exports(OPTS.def_file)
        self.assertEqual(len(want), 22)
        self.assertEqual(sorted(exported_names(OPTS.library)), sorted(want))

    def test_other_builds_export_the_same_names(self):
        if not OPTS.compare:
            self.skipTest("no other build named")
        mine = sorted(exported_names(OPTS.library))
        for other in OPTS.compare:
            with self.subTest(other=other):
                self.assertEqual(sorted(exported_names(other)), mine)


class Dll(unittest.TestCase):
    def setUp(self):
        if not OPTS.library.endswith(".dll"):
            self.skipTest("Windows builds only")
        self.pe = PeFile(OPTS.library)

    def test_machine_and_link_time(self):
        self.assertEqual(self.pe.machine, MACHINES[OPTS.machine])
        self.assertEqual(self.pe.magic, PE32_PLUS if OPTS.machine == "i386:x86-64" else PE32)
        self.assertTrue(self.pe.characteristics & 0x2000, "not marked as a DLL")
        self.assertEqual(self.pe.link_time, 0)

    def test_imports_only_system_dlls(self):
        imports = {name.lower() for name in self.pe.imported_dlls()}
        self.assertIn("kernel32.dll", imports)
        self.assertFalse(imports - SYSTEM_DLLS, imports)

    def test_version_record(self):
        data = self.pe.data
        for text_field in ("FileDescription", "libquillon", "ProductName", OPTS.version):
            self.assertIn(text_field.encode("utf-16-le"), data)
        # VS_FIXEDFILEINFO: signature, then file and product version.
        fixed = data.find(bytes.fromhex("bd04effe"))
        self.assertGreater(fixed, 0)
        words = [int.from_bytes(data[fixed + i:fixed + i + 4], "little") for i in range(0, 52, 4)]
        parts = [int(p) for p in OPTS.version.split(".")]
        version_words = [parts[0] << 16 | parts[1], parts[2] << 16 | parts[3]]
        self.assertEqual(words[2:6], version_words * 2)
        self.assertEqual(words[9], 2)  # VFT_DLL
        self.assertIn(bytes.fromhex("0904e404"), data)  # U.S. English, code page 1252


def main():
    global OPTS
    ap = argparse.ArgumentParser()
    ap.add_argument("--library", required=True)
    ap.add_argument("--def", dest="def_file", required=True)
    ap.add_argument("--machine", choices=sorted(MACHINES), default="i386")
    ap.add_argument("--version", required=True)
    ap.add_argument("--compare", nargs="*", default=[])
    OPTS = ap.parse_args()
    missing = [f for f in OPTS.compare if not os.path.exists(f)]
    if missing:
        print("skipped: not built: " + ", ".join(missing))
        return 77
    if not re.fullmatch(r"\d+\.\d+\.\d+\.\d+", OPTS.version):
        print(f"the version {OPTS.version} has not four parts")
        return 1
    suite = unittest.TestSuite()
    for case in (Exports, Dll):
        suite.addTests(unittest.defaultTestLoader.loadTestsFromTestCase(case))
    return 0 if unittest.TextTestRunner(verbosity=2).run(suite).wasSuccessful() else 1


if __name__ == "__main__":
    sys.exit(main())
