#!/usr/bin/env python3
"""The import library for Microsoft's linker (libquillon.lib): LLVM's tools
list every export of libquillon.def, for 32-bit x86, bound by undecorated name.

    import_library_test.py LIB DEF
"""
import re
import struct
import subprocess
import sys

I386 = 0x14C
NAME_TYPES = {2: "noprefix", 3: "undecorate"}  # imported by the name without the x86 "_" prefix


def def_exports(path):
    names, in_exports = [], False
    for line in open(path):
        line = line.split(";")[0].strip()
        if line == "EXPORTS":
            in_exports = True
        elif in_exports and line:
            names.append(line.split()[0])
    return names


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
    want = def_exports(deffile)
    if len(want) != 22:
        raise SystemExit(f"{deffile} names {len(want)} exports, not 22")
    failures = []

    nm = subprocess.run(["llvm-nm", lib], stdout=subprocess.PIPE, check=True).stdout.decode()
    symbols = set(line.split()[-1] for line in nm.splitlines() if line.strip() and not line.endswith(":"))
    for name in want:
        # The x86 C names: what Microsoft's compiler emits for a cdecl call
        # (_add) and for a dllimport one (__imp__add).
        for symbol in ("_" + name, "__imp__" + name):
            if symbol not in symbols:
                failures.append(f"llvm-nm lists no {symbol}")

    readobj = subprocess.run(["llvm-readobj", lib], stdout=subprocess.PIPE, check=True).stdout.decode()
    arches = set(re.findall(r"^Arch: (\S+)", readobj, re.M))
    if arches != {"i386"}:
        failures.append(f"llvm-readobj reports the machines {arches}")
    name_types = re.findall(r"^Name type: (\S+)", readobj, re.M)
    if len(name_types) != 22 or set(name_types) - {"noprefix", "undecorate"}:
        failures.append(f"llvm-readobj reports the name types {name_types}")

    members = import_members(lib)
    if sorted(m[2] for m in members) != sorted("_" + n for n in want):
        failures.append(f"the import members are {[m[2] for m in members]}")
    for machine, name_type, symbol, dll in members:
        if machine != I386 or name_type not in NAME_TYPES or dll != "libquillon.dll":
            failures.append(f"{symbol}: machine {machine:#x}, name type {name_type}, DLL {dll}")

    for f in failures:
        print(f)
    print(f"{lib}: {len(members)} imports from libquillon.dll for i386" if not failures else "FAILED")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
