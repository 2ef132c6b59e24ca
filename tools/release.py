#!/usr/bin/env python3
"""Makes the release files under build/release:

  libquillon-VERSION-win32.zip          libquillon.dll (32-bit), quillon.exe, the
                                        import libraries libquillon.dll.a (MinGW)
                                        and libquillon.lib (Microsoft's linker), ...
  libquillon-VERSION-win64.zip          the same for 64-bit Windows hosts
  libquillon-VERSION-linux-x86_64.zip   libquillon.so, quillon, ...
  libquillon_VERSION_amd64.deb          the Linux build as a Debian package
  SHA256SUMS                            the SHA-256 of each file above

Each archive holds the library, quillon.h, the export list libquillon.def,
the command-line host, the host examples and the documentation, side by side.
The archives are packed by the library's own ZIP export (each platform's
host and library: the Windows ones under Wine), tested with `unzip -t`, and
then checked as a host would use them: the library taken from the archive
runs the C example (every platform), the Python example and the LuaJIT
example (Linux). The Debian package is made by CPack from the install rules.

Where the machine starts no 32-bit programs (QUILLON_WIN32_RUN=0, as
./dev finds out), the 64-bit Windows host packs the 32-bit archive too
(the same code, so the same bytes), and the 32-bit DLL in it is checked
without running it: its exports, machine, imports and version record.

Every time in the files is the time of the commit they are made from (or
SOURCE_DATE_EPOCH when set), so two runs from the same commit and build give
the same bytes.

Run through `./dev release`, after the three targets are built.
"""
import hashlib
import os
import re
import shutil
import subprocess
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BUILD = os.path.join(ROOT, "build")
OUT = os.path.join(BUILD, "release")
STAGE = os.path.join(BUILD, "release-stage")


def version():
    with open(os.path.join(ROOT, "CMakeLists.txt")) as f:
        return re.search(r"project\(libquillon VERSION ([0-9.]+)", f.read()).group(1)


def run(cmd, **kw):
    print("+ " + " ".join(cmd), flush=True)
    return subprocess.run(cmd, check=True, **kw)


def source_date():
    """The time every file of the release carries: SOURCE_DATE_EPOCH, else
    the time of the commit checked out."""
    if os.environ.get("SOURCE_DATE_EPOCH"):
        return int(os.environ["SOURCE_DATE_EPOCH"])
    try:
        out = subprocess.run(["git", "-C", ROOT, "log", "-1", "--format=%ct"], stdout=subprocess.PIPE,
                             stderr=subprocess.DEVNULL, check=True).stdout.decode().strip()
        return int(out)
    except (OSError, subprocess.CalledProcessError, ValueError):
        return 1262304000  # 2010-01-01, outside a git checkout


def no_birth_time_shim():
    """A preload library under which a process sees no file birth times.

    The ZIP export stores each file's creation time (the birth time, where
    the file system keeps one) beside its modification time. A birth time
    cannot be set, so staged files carry the time they were staged; under
    this shim statx() reports none, and the creation time falls back to the
    fixed modification time. (Wine reports no birth time: the Windows build
    packs without it.)"""
    src = os.path.join(STAGE, "no_btime.c")
    lib = os.path.join(STAGE, "no_btime.so")
    with open(src, "w") as f:
        f.write("""#define _GNU_SOURCE
#include <dlfcn.h>
#include <sys/stat.h>
typedef int (*statx_fn)(int, const char*, int, unsigned int, struct statx*);
int statx(int dirfd, const char* path, int flags, unsigned int mask, struct statx* out) {
  static statx_fn real;
  if (!real) real = (statx_fn)dlsym(RTLD_NEXT, "statx");
  int r = real(dirfd, path, flags, mask & ~STATX_BTIME, out);
  if (r == 0) out->stx_mask &= ~STATX_BTIME;
  return r;
}
""")
    run(["cc", "-shared", "-fPIC", "-O2", "-o", lib, src, "-ldl"])
    return lib


def pack(platform, runner, host, library, archive_name, epoch, shim):
    stage = os.path.join(STAGE, platform)
    shutil.rmtree(stage, ignore_errors=True)
    run(["cmake", "--install", os.path.join(BUILD, platform), "--component", "release", "--prefix", stage])
    # Fixed times. The ZIP export also stores the access time, and reading a
    # file (the Windows build reads each file's first bytes to tell whether it
    # is a program) would move it: the no-atime attribute keeps it fixed.
    for name in sorted(os.listdir(stage)):
        path = os.path.join(stage, name)
        if subprocess.run(["chattr", "+A", path], stderr=subprocess.DEVNULL).returncode != 0:
            print(f"warning: cannot keep the access time of {name} fixed (chattr +A)")
        os.utime(path, (epoch, epoch))
    archive = os.path.join(OUT, archive_name)
    if os.path.exists(archive):
        os.remove(archive)
    # ZIP adds the entries of a folder listing by their bare names, so it runs
    # inside the staging folder; the archive is written into the release folder.
    env = dict(os.environ, TZ="UTC")
    if shim:
        env["LD_PRELOAD"] = shim
    out = run(runner + [host, "--lib", library, "ZIP", archive, "."],
              cwd=stage, stdout=subprocess.PIPE, env=env).stdout.decode()
    if out.splitlines()[-1] != "1":
        raise SystemExit("ZIP did not answer 1:\n" + out)
    run(["unzip", "-t", "-q", archive])
    staged = sorted(os.listdir(stage))
    listed = subprocess.run(["unzip", "-Z1", archive], stdout=subprocess.PIPE, check=True).stdout.decode().split()
    if sorted(listed) != staged:
        raise SystemExit(f"{archive_name} holds {sorted(listed)}, the staging folder {staged}")
    print(f"{archive_name}: {len(listed)} files, {os.path.getsize(archive):,} bytes")
    return archive


def wine_loaders():
    """The Wine programs that start each Windows build's programs, and
    whether the 32-bit one can run here at all."""
    win64 = os.environ.get("QUILLON_WINE64") or "/usr/lib/wine/wine64"
    return {"win32": ["wine"], "win64": [win64]}, os.environ.get("QUILLON_WIN32_RUN", "1") != "0"


def check(platform, archive, runner):
    """Unpacks the archive and runs the examples against the library in it;
    with no runner (a Windows build that cannot start here), reads the DLL
    instead of running it."""
    with tempfile.TemporaryDirectory(prefix="quillon-release-") as tmp:
        run(["unzip", "-q", archive, "-d", tmp])
        work = os.path.join(tmp, "work")
        os.mkdir(work)
        if platform.startswith("win"):
            dll = os.path.join(tmp, "libquillon.dll")
            run(["/usr/bin/python3", os.path.join(ROOT, "tests", "packaging", "artefact_test.py"), "--library", dll,
                 "--def", os.path.join(tmp, "libquillon.def"), "--version", version(),
                 "--machine", "i386" if platform == "win32" else "i386:x86-64"])
            if runner is None:
                print(f"{os.path.basename(archive)}: its programs cannot start here; read, not run")
                return
            run(runner + [os.path.join(tmp, "quillon.exe"), "add", "1.5", "2.25"])
            run(runner + [os.path.join(BUILD, platform, "example_host.exe"), dll, work])
        else:
            os.chmod(os.path.join(tmp, "quillon"), 0o755)
            run([os.path.join(tmp, "quillon"), "add", "1.5", "2.25"])
            run([os.path.join(BUILD, "linux", "example_host"), os.path.join(tmp, "libquillon.so"), work])
            py_work = os.path.join(work, "py")
            os.mkdir(py_work)
            run(["/usr/bin/python3", os.path.join(tmp, "host_ctypes.py"), os.path.join(tmp, "libquillon.so"), py_work])
            lua_work = os.path.join(work, "lua")
            os.mkdir(lua_work)
            run(["luajit", os.path.join(tmp, "host.lua"), os.path.join(tmp, "libquillon.so"), lua_work],
                stdout=subprocess.DEVNULL)


def debian_package(epoch):
    """Makes the Debian package of the Linux build with CPack; returns its path."""
    work = os.path.join(STAGE, "deb")
    shutil.rmtree(work, ignore_errors=True)
    env = dict(os.environ, SOURCE_DATE_EPOCH=str(epoch))
    run(["cpack", "-G", "DEB", "--config", os.path.join(BUILD, "linux", "CPackConfig.cmake"), "-B", work], env=env,
        stdout=subprocess.DEVNULL)
    made = [n for n in os.listdir(work) if n.endswith(".deb")]
    if len(made) != 1:
        raise SystemExit(f"CPack made {made}, not one package")
    package = os.path.join(OUT, made[0])
    shutil.move(os.path.join(work, made[0]), package)
    info = subprocess.run(["dpkg-deb", "--field", package, "Package", "Version", "Depends"], stdout=subprocess.PIPE,
                          check=True).stdout.decode()
    print(info, end="")
    contents = subprocess.run(["dpkg-deb", "--contents", package], stdout=subprocess.PIPE, check=True).stdout.decode()
    for path in ("./usr/lib/libquillon.so", "./usr/bin/quillon", "./usr/include/quillon.h",
                 "./usr/lib/cmake/quillon/quillonConfig.cmake", "./usr/lib/pkgconfig/quillon.pc",
                 "./usr/share/man/man1/quillon.1.gz", "./usr/share/doc/libquillon/docs/exports.md"):
        if path not in contents:
            raise SystemExit(f"{made[0]} lacks {path}")
    print(f"{made[0]}: {os.path.getsize(package):,} bytes")
    return package


def checksums(files):
    lines = []
    for path in files:
        with open(path, "rb") as f:
            lines.append(f"{hashlib.sha256(f.read()).hexdigest()}  {os.path.basename(path)}\n")
    sums = os.path.join(OUT, "SHA256SUMS")
    with open(sums, "w") as f:
        f.writelines(lines)
    run(["sha256sum", "--check", "--quiet", "SHA256SUMS"], cwd=OUT)
    return sums


def main():
    # The release folder holds what this run makes and nothing else.
    shutil.rmtree(OUT, ignore_errors=True)
    os.makedirs(OUT)
    os.makedirs(STAGE, exist_ok=True)
    v = version()
    epoch = source_date()
    os.environ.setdefault("WINEDEBUG", "-all")
    shim = no_birth_time_shim()
    runners, win32_runs = wine_loaders()
    linux = pack("linux", [], os.path.join(BUILD, "linux", "quillon"), os.path.join(BUILD, "linux", "libquillon.so"),
                 f"libquillon-{v}-linux-x86_64.zip", epoch, shim)
    # Each Windows archive is packed by its own build's host under Wine; the
    # 32-bit one by the 64-bit host where 32-bit programs cannot start.
    packer = "win32" if win32_runs else "win64"
    if not win32_runs:
        print("the 32-bit programs cannot start here: build/win64 packs the win32 archive")
    win32 = pack("win32", runners[packer], os.path.join(BUILD, packer, "quillon.exe"),
                 os.path.join(BUILD, packer, "libquillon.dll"), f"libquillon-{v}-win32.zip", epoch, None)
    win64 = pack("win64", runners["win64"], os.path.join(BUILD, "win64", "quillon.exe"),
                 os.path.join(BUILD, "win64", "libquillon.dll"), f"libquillon-{v}-win64.zip", epoch, None)
    check("linux", linux, [])
    check("win32", win32, runners["win32"] if win32_runs else None)
    check("win64", win64, runners["win64"])
    deb = debian_package(epoch)
    made = [linux, win32, win64, deb]
    sums = checksums(made)
    print("\nrelease files:\n  " + "\n  ".join(made + [sums]))

if __name__ == "__main__":
    sys.exit(main())
