#!/usr/bin/env python3
"""A scripting host in Python: load libquillon with ctypes, bind exports by
name with double / char* signatures, and call them.

    python3 host_ctypes.py LIBRARY WORKDIR

Texts go in and come out as bytes: the library works on 8-bit texts. A text
result points into library storage, so it is copied (ctypes does that for
c_char_p results) before the next call.
"""
import ctypes
import hashlib
import os
import sys
import zipfile

SIGNATURES = {
    # name: (argument kinds, result kind); 'd' double, 's' char*
    "add": ("dd", "d"), "CD": ("s", "d"), "MKDIR2": ("s", "d"), "RMDIR": ("", "d"),
    "RMDIR2": ("s", "d"), "T2GMT": ("ss", "d"), "makeBuffer": ("s", "s"),
    "QCRYPT_makeKeys": ("ssss", "d"), "QCRYPT_combineKeys": ("ssss", "d"),
    "QCRYPT_combineKeys2": ("sss", "d"), "QCRYPT_encrypt": ("sss", "d"),
    "QCRYPT_encrypt2": ("ssss", "d"), "QCRYPT_decrypt": ("sss", "d"),
    "HASHmd5": ("s", "s"), "HASHsha1": ("s", "s"),
    "GUI_show_message": ("s", "d"), "GUI_show_question": ("s", "d"),
    "GUI_make_window": ("ssdd", "d"), "GUI_make_window_notepad": ("ssds", "s"),
    "GUI_get_string": ("ssds", "s"), "UNZIP": ("ss", "d"), "ZIP": ("ss", "d"),
}
KIND = {"d": ctypes.c_double, "s": ctypes.c_char_p}


class Quillon:
    """The library's exports as Python callables taking str/bytes and numbers."""

    def __init__(self, path):
        self._lib = ctypes.CDLL(path)
        for name, (args, result) in SIGNATURES.items():
            fn = getattr(self._lib, name)
            fn.argtypes = [KIND[a] for a in args]
            fn.restype = KIND[result]
            setattr(self, name, self._wrap(fn))

    @staticmethod
    def _wrap(fn):
        def call(*args):
            return fn(*[a.encode() if isinstance(a, str) else a for a in args])
        return call


def main():
    if len(sys.argv) != 3:
        print(__doc__)
        return 64
    q = Quillon(sys.argv[1])
    work = sys.argv[2]
    failures = 0

    def expect(what, got, want):
        nonlocal failures
        ok = got == want
        failures += not ok
        print(f"{what:40} {got!r}{'' if ok else '   <-- expected ' + repr(want)}")

    expect("add(1.5, 2.25)", q.add(1.5, 2.25), 3.75)
    for text in ("", "abc", "\u00e9t\u00e9 in Latin-1".encode("latin-1")):
        data = text.encode() if isinstance(text, str) else text
        expect(f"HASHmd5({data!r})", q.HASHmd5(data), hashlib.md5(data).hexdigest().encode())
        expect(f"HASHsha1({data!r})", q.HASHsha1(data), hashlib.sha1(data).hexdigest().encode())

    folder = os.path.join(work, "to-pack")
    os.makedirs(folder, exist_ok=True)
    files = {"a.txt": b"alpha\n" * 100, "b.bin": bytes(range(256)) * 10, "c.gz": b"stored as is"}
    for name, data in files.items():
        with open(os.path.join(folder, name), "wb") as f:
            f.write(data)
    expect("makeBuffer(a.txt)", q.makeBuffer(os.path.join(folder, "a.txt")), b"alpha\n")
    expect("makeBuffer(missing)", q.makeBuffer(os.path.join(folder, "missing")), None)

    # ZIP adds the entries of a listing by bare name: run it inside the folder.
    archive = os.path.join(work, "packed.zip")
    here = os.getcwd()
    expect("CD(folder)", q.CD(folder), 1.0)
    expect("ZIP(packed.zip, '.')", q.ZIP(archive, "."), 1.0)
    expect("CD(back)", q.CD(here), 1.0)
    with zipfile.ZipFile(archive) as z:
        expect("zipfile.testzip() of the archive", z.testzip(), None)
        expect("names in the archive", sorted(z.namelist()), sorted(files))
    out = os.path.join(work, "unpacked")
    expect("UNZIP(packed.zip, unpacked)", q.UNZIP(archive, out), 1.0)
    for name, data in files.items():
        with open(os.path.join(out, name), "rb") as f:
            expect(f"unpacked {name} equals the original", f.read() == data, True)

    print("all results as expected" if not failures else "some results were unexpected")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
