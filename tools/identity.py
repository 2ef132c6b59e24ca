#!/usr/bin/env python3
"""What a build of the library makes, as one manifest, so that two builds
can be compared on the very same inputs: after a change meant to keep
behaviour (moving code, renaming it), every line must stay.

    tools/identity.py [--corpus DIR] LABEL=HOST[@RUNNER] ...

Each HOST is a `quillon` command-line host beside its library, RUNNER the
emulator that starts it (Wine's loader for a Windows build). For each, the
manifest holds:
  - the SHA-256 of the archives that ZIP makes of the benchmark corpus and
    of three folders of this repository, with 1 and with 8 threads (the
    files' times set once so that no run moves them: the archive keeps the
    access time);
  - every tree that UNZIP extracts, with 1 and 8 threads, from those
    archives and from archives that Info-ZIP's zip, 7z, bsdtar and Python's
    zipfile make of the same folders: each path with its size, bytes'
    SHA-256, modification time and mode;
  - the library's exported names;
  - the demo's output and the files it writes.
Manifests go to build/identity/LABEL.txt. The script prints the SHA-256 of
each manifest and of each of its parts, and exits 1 when two hosts of the
same platform (LABELs that differ only after a '-', as linux-before and
linux-after) disagree.
"""
import argparse
import hashlib
import os
import shlex
import shutil
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
FOLDERS = ["src/zip/write", "src/zip/read", "tests/zip/read"]
FIXED_TIME = 1_700_000_000


def sha(data):
    return hashlib.sha256(data).hexdigest()


def file_sha(path):
    with open(path, "rb") as f:
        return sha(f.read())


def pin_times(tree):
    """Fixed modification times, and access times an hour ahead: later than
    both the modification and the status-change time and less than a day
    away, so that reading the files does not move them (relatime) and no
    later touch is needed. A touch would move the status-change time, which
    Wine reports as the creation time that the archive keeps."""
    now = int(time.time()) + 3600
    for i, name in enumerate(sorted(os.listdir(tree))):
        os.utime(os.path.join(tree, name), (now, FIXED_TIME + 86400 * i), follow_symlinks=False)


def run(host, *args, cwd, env=None):
    cmd = shlex.split(host["runner"]) + [host["path"]] + list(args)
    e = dict(os.environ, WINEDEBUG="-all", **(env or {}))
    p = subprocess.run(cmd, cwd=cwd, stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=e, timeout=1800)
    return p.returncode, p.stdout


def walk(tree, times=True):
    """Each path under `tree`. Without `times` (files made at run time), no
    time, and an archive by its entries' names, sizes and CRCs, since its
    stamps are the run's."""
    import zipfile
    lines = []
    for top, dirs, files in os.walk(tree):
        dirs.sort()
        for name in sorted(dirs) + sorted(files):
            path = os.path.join(top, name)
            st = os.lstat(path)
            rel = os.path.relpath(path, tree)
            kind = "dir" if os.path.isdir(path) else "file"
            digest = file_sha(path) if kind == "file" else "-"
            if not times and name.endswith(".zip"):
                with zipfile.ZipFile(path) as z:
                    digest = ",".join(f"{i.filename}:{i.file_size}:{i.CRC:08x}" for i in z.infolist())
            when = f" mtime {st.st_mtime_ns // 1_000_000_000}" if times else ""
            lines.append(f"  {rel} {kind} {st.st_size if kind == 'file' else 0} {digest}{when} "
                         f"mode {oct(st.st_mode & 0o7777)}")
    return lines


def exported_names(host):
    folder = os.path.dirname(host["path"])
    if host["runner"]:
        dll = os.path.join(folder, "libquillon.dll")
        out = subprocess.run(["x86_64-w64-mingw32-objdump", "-p", dll], stdout=subprocess.PIPE, text=True).stdout
        names, table = [], False
        for line in out.splitlines():
            if "[Ordinal/Name Pointer] Table" in line:
                table = True
            elif table and line.strip().startswith("["):
                names.append(line.split()[-1])
            elif table and names:
                break
        return sorted(names)
    so = os.path.join(folder, "libquillon.so")
    out = subprocess.run(["nm", "-D", "--defined-only", so], stdout=subprocess.PIPE, text=True).stdout
    return sorted(line.split()[-1] for line in out.splitlines() if " T " in line)


def peer_archives(src, out):
    """Archives of `src` made by other tools, where they are installed."""
    made = []

    def tool(name, cmd, cwd=src):
        if shutil.which(cmd[0]):
            subprocess.run(cmd, cwd=cwd, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True)
            made.append(name)

    base = os.path.basename(src)
    tool(f"{base}.infozip.zip", ["zip", "-qX", "-r", os.path.join(out, f"{base}.infozip.zip"), "."])
    tool(f"{base}.7z.zip", ["7z", "a", "-tzip", "-bd", os.path.join(out, f"{base}.7z.zip"), "."])
    tool(f"{base}.bsdtar.zip", ["bsdtar", "-a", "-cf", os.path.join(out, f"{base}.bsdtar.zip"), "."])
    import zipfile
    with zipfile.ZipFile(os.path.join(out, f"{base}.python.zip"), "w", zipfile.ZIP_DEFLATED) as z:
        for name in sorted(os.listdir(src)):
            if os.path.isfile(os.path.join(src, name)):
                z.write(os.path.join(src, name), name)
    made.append(f"{base}.python.zip")
    return made


def manifest(host, inputs, scratch):
    parts = {}
    # Archives made by ZIP.
    lines, archives = [], []
    for tree in inputs["trees"]:
        for threads in ("1", "8"):
            name = f"{os.path.basename(tree)}.t{threads}.zip"
            target = os.path.join(scratch, name)
            if os.path.exists(target):
                os.remove(target)
            status, out = run(host, "ZIP", os.path.relpath(target, tree), ".", cwd=tree,
                              env={"QUILLON_THREADS": threads})
            lines.append(f"ZIP {name} status {status} result {out.strip().decode()} "
                         f"sha256 {file_sha(target) if os.path.exists(target) else '-'}")
            archives.append(target)
    parts["zip"] = lines
    # Trees made by UNZIP.
    lines = []
    for archive in archives + inputs["peers"]:
        for threads in ("1", "8"):
            out_dir = os.path.join(scratch, "out")
            shutil.rmtree(out_dir, ignore_errors=True)
            status, out = run(host, "UNZIP", os.path.relpath(archive, scratch), "out", cwd=scratch,
                              env={"QUILLON_THREADS": threads})
            lines.append(f"UNZIP {os.path.basename(archive)} threads {threads} status {status} "
                         f"result {out.strip().decode()}")
            lines += walk(out_dir)
    parts["unzip"] = lines
    parts["exports"] = exported_names(host)
    # The demo.
    demo = os.path.join(scratch, "demo")
    shutil.rmtree(demo, ignore_errors=True)
    status, out = run(host, "demo", "demo", cwd=scratch)
    parts["demo"] = [f"status {status}"] + out.decode("utf-8", "replace").replace(scratch, "<scratch>").splitlines() \
        + walk(demo, times=False)
    return parts


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--corpus", default=os.path.join(ROOT, "build", "corpus"))
    ap.add_argument("hosts", nargs="+", help="LABEL=HOST[@RUNNER]")
    opts = ap.parse_args()
    hosts = []
    for given in opts.hosts:
        label, rest = given.split("=", 1)
        path, _, runner = rest.partition("@")
        hosts.append({"label": label, "path": os.path.abspath(path), "runner": runner})
    outdir = os.path.join(ROOT, "build", "identity")
    os.makedirs(outdir, exist_ok=True)
    with tempfile.TemporaryDirectory() as d:
        # One copy of each folder for every host: the same files, the same
        # birth times.
        sources = [os.path.join(ROOT, f) for f in FOLDERS]
        if os.path.isdir(opts.corpus):
            sources.append(opts.corpus)
        trees = []
        for i, src in enumerate(sources):
            tree = os.path.join(d, f"{i}-{os.path.basename(src)}")
            shutil.copytree(src, tree)
            trees.append(tree)
        peers_dir = os.path.join(d, "peers")
        os.mkdir(peers_dir)
        peers = []
        for tree in trees:
            pin_times(tree)
            peers += [os.path.join(peers_dir, n) for n in peer_archives(tree, peers_dir)]
        inputs = {"trees": trees, "peers": peers}
        digests = {}
        for host in hosts:
            scratch = os.path.join(d, "run-" + host["label"])
            os.mkdir(scratch)
            parts = manifest(host, inputs, scratch)
            text = "".join(f"## {k}\n" + "\n".join(v) + "\n" for k, v in parts.items())
            with open(os.path.join(outdir, host["label"] + ".txt"), "w") as f:
                f.write(text)
            digests[host["label"]] = text
            print(f"{host['label']}: manifest {sha(text.encode())[:16]}  " +
                  "  ".join(f"{k} {sha(chr(10).join(v).encode())[:16]}" for k, v in parts.items()))
    failed = False
    for a in digests:
        for b in digests:
            if a < b and a.split("-")[0] == b.split("-")[0] and digests[a] != digests[b]:
                print(f"DIFFER: {a} and {b} (diff {outdir}/{a}.txt {outdir}/{b}.txt)")
                failed = True
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
