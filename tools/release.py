#!/usr/bin/env python3
"""Makes the release archives, one per platform, under build/release:

  libquillon-VERSION-win32.zip          libquillon.dll (32-bit), quillon.exe, ...
  libquillon-VERSION-linux-x86_64.zip   libquillon.so, quillon, ...

Each holds the library, include/quillon.h, the export list libquillon.def,
the command-line host, the host examples and the documentation, side by side.
The archives are packed by the library's own ZIP export (each platform's
host and library: the Windows one under Wine), tested with `unzip -t`, and
then checked as a host would use them: the library taken from the archive
runs the C example (both platforms) and the Python example (Linux).

Run through `./dev release`, after both targets are built.
"""
import os
import re
import shutil
import subprocess
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BUILD = os.path.join(ROOT, "build")
OUT = os.path.join(BUILD, "release")


def version():
    with open(os.path.join(ROOT, "CMakeLists.txt")) as f:
        return re.search(r"project\(libquillon VERSION ([0-9.]+)", f.read()).group(1)


def run(cmd, **kw):
    print("+ " + " ".join(cmd), flush=True)
    return subprocess.run(cmd, check=True, **kw)


def pack(platform, runner, host, library, archive_name):
    stage = os.path.join(OUT, "stage-" + platform)
    shutil.rmtree(stage, ignore_errors=True)
    run(["cmake", "--install", os.path.join(BUILD, platform), "--prefix", stage])
    archive = os.path.join(OUT, archive_name)
    if os.path.exists(archive):
        os.remove(archive)
    # ZIP adds the entries of a folder listing by their bare names, so it runs
    # inside the staging folder and writes the archive beside it.
    out = run(runner + [host, "--lib", library, "ZIP", os.path.join("..", archive_name), "."],
              cwd=stage, stdout=subprocess.PIPE).stdout.decode()
    if out.splitlines()[-1] != "1":
        raise SystemExit("ZIP did not answer 1:\n" + out)
    run(["unzip", "-t", "-q", archive])
    staged = sorted(os.listdir(stage))
    listed = subprocess.run(["unzip", "-Z1", archive], stdout=subprocess.PIPE, check=True).stdout.decode().split()
    if sorted(listed) != staged:
        raise SystemExit(f"{archive_name} holds {sorted(listed)}, the staging folder {staged}")
    print(f"{archive_name}: {len(listed)} files, {os.path.getsize(archive):,} bytes")
    return archive


def check(platform, archive):
    """Unpacks the archive and runs the examples against the library in it."""
    with tempfile.TemporaryDirectory(prefix="quillon-release-") as tmp:
        run(["unzip", "-q", archive, "-d", tmp])
        work = os.path.join(tmp, "work")
        os.mkdir(work)
        if platform == "win32":
            wine = ["wine"]
            run(wine + [os.path.join(tmp, "quillon.exe"), "add", "1.5", "2.25"])
            run(wine + [os.path.join(BUILD, "win32", "example_host.exe"), os.path.join(tmp, "libquillon.dll"), work])
        else:
            os.chmod(os.path.join(tmp, "quillon"), 0o755)
            run([os.path.join(tmp, "quillon"), "add", "1.5", "2.25"])
            run([os.path.join(BUILD, "linux", "example_host"), os.path.join(tmp, "libquillon.so"), work])
            py_work = os.path.join(work, "py")
            os.mkdir(py_work)
            run(["/usr/bin/python3", os.path.join(tmp, "host_ctypes.py"), os.path.join(tmp, "libquillon.so"), py_work])


def main():
    os.makedirs(OUT, exist_ok=True)
    v = version()
    os.environ.setdefault("WINEDEBUG", "-all")
    linux = pack("linux", [], os.path.join(BUILD, "linux", "quillon"), os.path.join(BUILD, "linux", "libquillon.so"),
                 f"libquillon-{v}-linux-x86_64.zip")
    win32 = pack("win32", ["wine"], os.path.join(BUILD, "win32", "quillon.exe"),
                 os.path.join(BUILD, "win32", "libquillon.dll"), f"libquillon-{v}-win32.zip")
    check("linux", linux)
    check("win32", win32)
    print("\nrelease archives:\n  " + linux + "\n  " + win32)


if __name__ == "__main__":
    sys.exit(main())
