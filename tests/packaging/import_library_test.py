#!/usr/bin/env python3
"""The import library for Microsoft's linker (libquillon.lib): LLVM's tools
list every export of libquillon.def, for the build's machine, bound by
undecorated name.

    import_library_test.py LIB DEF [i386|i386:x86-64]
"""
import re
import struct
import subprocess
import sys

from artefact_test import def_exports  # beside this script

# Per machine: the COFF machine field, what llvm-readobj calls it, the C
# prefix of its symbols, and the import name types that bind a function by
# its undecorated name (on x86 the "_" prefix is dropped; x86-64 has none).
MACHINES = {
    "i386": (0x14C, "i386", "_", {2: "noprefix", 3: "undecorate"}),
    "i386:x86-64": (0x8664, "x86_64", "", {1: "name", 2: "noprefix", 3: "undecorate"}),
}


def import_members(path):
    """(machine, name type, symbol, DLL name) of each short import member."""
    data = open(path, "rb").read()
    if not data.startswith(b"!<arch>\n"):
        raise SystemExit(f"{path} is not an archive")
    pos, out = 8, []
    while pos + 60 <= len(data):
        size = int(data[pos + 48:pos + 58].decode().strip())
        body = data[pos + 60:pos + 60 + size]
        if len(body) >= 20 and body[:4] == b"\0\0\xff\xff":
            machine, = struct.unpack_from("<H", body, 6)
            kinds, = struct.unpack_from("<H", body, 18)
            symbol, dll = body[20:].split(b"\0")[:2]
            out.append((machine, (kinds >> 2) & 7, symbol.decode(), dll.decode()))
        pos += 60 + size + (size & 1)
    return out


def main():
    lib, deffile = sys.argv[1:3]
    machine_name = sys.argv[3] if len(sys.argv) > 3 else "i386"
    machine_field, arch, prefix, name_types_ok = MACHINES[machine_name]
    want = def_exports(deffile)
    if len(want) != 22:
        raise SystemExit(f"{deffile} names {len(want)} exports, not 22")
    failures = []

    nm = subprocess.run(["llvm-nm", lib], stdout=subprocess.PIPE, check=True).stdout.decode()
    symbols = set(line.split()[-1] for line in nm.splitlines() if line.strip() and not line.endswith(":"))
    for name in want:
        # The C names: what Microsoft's compiler emits for a cdecl call
        # (_add on x86) and for a dllimport one (__imp__add on x86).
        for symbol in (prefix + name, "__imp_" + prefix + name):
            if symbol not in symbols:
                failures.append(f"llvm-nm lists no {symbol}")

    readobj = subprocess.run(["llvm-readobj", lib], stdout=subprocess.PIPE, check=True).stdout.decode()
    arches = set(re.findall(r"^Arch: (\S+)", readobj, re.M))
    if arches != {arch}:
        failures.append(f"llvm-readobj reports the machines {arches}")
    name_types = re.findall(r"^Name type: (\S+)", readobj, re.M)
    if len(name_types) != 22 or set(name_types) - set(name_types_ok.values()):
        failures.append(f"llvm-readobj reports the name types {name_types}")

    members = import_members(lib)
    if sorted(m[2] for m in members) != sorted(prefix + n for n in want):
        failures.append(f"the import members are {[m[2] for m in members]}")
    for machine, name_type, symbol, dll in members:
        if machine != machine_field or name_type not in name_types_ok or dll != "libquillon.dll":
            failures.append(f"{symbol}: machine {machine:#x}, name type {name_type}, DLL {dll}")

    for f in failures:
        print(f)
    print(f"{lib}: {len(members)} imports from libquillon.dll for {arch}" if not failures else "FAILED")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
