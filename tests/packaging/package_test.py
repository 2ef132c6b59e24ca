#!/usr/bin/env python3
"""The Debian package as its users meet it.

Makes the package of this build with CPack, installs it with apt-get, builds
examples/host.c against the installed library twice (with pkg-config's flags,
and as a small CMake project using find_package(quillon)), runs both and the
installed command-line host, then removes the package and checks that none of
its files or folders is left behind.

Needs root (it installs into /usr); exits 77 (skipped) otherwise, or when a
libquillon package is installed already, which it leaves alone.

    package_test.py BUILD_DIR SOURCE_DIR VERSION
"""
import os
import shutil
import subprocess
import sys
import tempfile

SKIP = 77
PACKAGE = "libquillon"

# The smallest CMake project a host author writes for an installed library.
CMAKE_PROJECT = """\
cmake_minimum_required(VERSION 3.16)
project(host C)
find_package(quillon CONFIG REQUIRED)
add_executable(host host.c)
target_link_libraries(host PRIVATE quillon::quillon)
"""


def run(cmd, **kw):
    print("+ " + " ".join(cmd), flush=True)
    return subprocess.run(cmd, check=True, **kw)


def output(cmd, **kw):
    return subprocess.run(cmd, check=True, stdout=subprocess.PIPE, **kw).stdout.decode()


def installed():
    p = subprocess.run(["dpkg-query", "-W", "-f=${Status}", PACKAGE], stdout=subprocess.PIPE,
                       stderr=subprocess.DEVNULL)
    return p.returncode == 0 and "installed" in p.stdout.decode().split()


def apt_get(*args):
    env = dict(os.environ, DEBIAN_FRONTEND="noninteractive")
    run(["apt-get", "-y", "-q", "-o", "DPkg::Lock::Timeout=300", *args], env=env, stdout=subprocess.DEVNULL)


def run_host(program, work):
    """Runs a host example that loads the library by its bare name, so the
    system's loader searches its own folders (LD_LIBRARY_PATH is dropped)."""
    os.makedirs(work, exist_ok=True)
    env = {k: v for k, v in os.environ.items() if k != "LD_LIBRARY_PATH"}
    return subprocess.run([program, "libquillon.so", work], env=env, stdout=subprocess.PIPE,
                          stderr=subprocess.STDOUT).returncode


def main():
    build, source, version = sys.argv[1:4]
    if os.geteuid() != 0 or not shutil.which("apt-get"):
        print("skipped: installing a package needs root and apt-get")
        return SKIP
    if installed():
        print(f"skipped: {PACKAGE} is installed on this machine already; it is left alone")
        return SKIP

    with tempfile.TemporaryDirectory(prefix="quillon-package-") as tmp:
        run(["cpack", "-G", "DEB", "--config", os.path.join(build, "CPackConfig.cmake"), "-B", tmp],
            stdout=subprocess.DEVNULL)
        debs = [n for n in os.listdir(tmp) if n.endswith(".deb")]
        if debs != [f"{PACKAGE}_{version}_amd64.deb"]:
            raise SystemExit(f"CPack made {debs}")
        deb = os.path.join(tmp, debs[0])
        fields = output(["dpkg-deb", "--field", deb, "Package", "Version", "Depends"])
        print(fields, end="")
        if f"Version: {version}\n" not in fields or "zlib1g" not in fields or "libgtk-3-0" not in fields:
            raise SystemExit("the package's version or computed dependencies are wrong")

        # Every path the package holds, and those that were there before it.
        paths = [line.split(None, 5)[5].split(" -> ")[0].rstrip("/")[1:]
                 for line in output(["dpkg-deb", "--contents", deb]).splitlines()]
        paths = [p for p in paths if p]
        before = {p for p in paths if os.path.lexists(p)}
        clashes = [p for p in before if not os.path.isdir(p)]
        if clashes:
            raise SystemExit(f"files of the package exist already: {clashes}")

        try:
            apt_get("install", "--no-install-recommends", deb)
            if not installed():
                raise SystemExit(f"apt-get did not install {PACKAGE}")
            if output(["pkg-config", "--modversion", "quillon"]).strip() != version:
                raise SystemExit("pkg-config reports another version")

            # examples/host.c with pkg-config's flags.
            flags = output(["pkg-config", "--cflags", "--libs", "quillon"]).split()
            host_pc = os.path.join(tmp, "host-pkg-config")
            run(["cc", "-o", host_pc, os.path.join(source, "examples", "host.c"), *flags])
            if run_host(host_pc, os.path.join(tmp, "work")) != 0:
                raise SystemExit("the host built with pkg-config fails with the installed library")

            # examples/host.c as a CMake project of its own.
            project = os.path.join(tmp, "project")
            os.makedirs(project)
            shutil.copy(os.path.join(source, "examples", "host.c"), project)
            with open(os.path.join(project, "CMakeLists.txt"), "w") as f:
                f.write(CMAKE_PROJECT)
            env = {k: v for k, v in os.environ.items() if not k.startswith("CMAKE_")}
            run(["cmake", "-S", project, "-B", os.path.join(project, "build"), "-G", "Ninja"], env=env,
                stdout=subprocess.DEVNULL)
            run(["cmake", "--build", os.path.join(project, "build")], env=env, stdout=subprocess.DEVNULL)
            host_cmake = os.path.join(project, "build", "host")
            if run_host(host_cmake, os.path.join(tmp, "work")) != 0:
                raise SystemExit("the host built with CMake fails with the installed library")

            # The installed host finds the installed library by name.
            if output(["/usr/bin/quillon", "add", "1.5", "2.25"], cwd=tmp) != "3.75\n":
                raise SystemExit("the installed quillon does not call the library")
            if output(["/usr/bin/quillon", "--version"], cwd=tmp) != f"libquillon {version}\n":
                raise SystemExit("the installed quillon reports another version")
        finally:
            apt_get("remove", "--purge", PACKAGE)

        if installed():
            raise SystemExit(f"{PACKAGE} is still installed")
        # The hosts found the library that the package installed: it is gone.
        if run_host(host_pc, os.path.join(tmp, "work")) != 1 or run_host(host_cmake, os.path.join(tmp, "work")) != 1:
            raise SystemExit("the hosts still find a libquillon.so after the package is removed")
        left = [p for p in paths if p not in before and os.path.lexists(p)]
        if left:
            raise SystemExit(f"left behind after removal: {left}")
        print(f"{PACKAGE} installed, built against with pkg-config and CMake, run, and removed without a trace "
              f"({len(paths)} paths)")
    return 0


if __name__ == "__main__":
    sys.exit(main())
