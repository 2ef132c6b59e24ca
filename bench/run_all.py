#!/usr/bin/env python3
"""Runs every benchmark under bench/ against its peers and writes
docs/benchmarks.md (goals, ratio tables, each benchmark's own report) and
docs/img/benchmarks.png (the speed and size ratios as a plot).

Run through `./dev bench` (which builds build/linux and makes the corpus).
Every figure is a ratio against a peer measured in the same run, so the
report stays meaningful on a busy or different machine.
"""
import datetime
import os
import platform
import re
import subprocess
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BUILD = os.path.join(ROOT, "build", "linux")
CORPUS = os.path.join(ROOT, "build", "corpus")
DOCS = os.path.join(ROOT, "docs")

# (name, title, command line after the program)
BENCHMARKS = [
    ("hash", "MD5 and SHA-1 digests", []),
    ("crypt", "Key files and file encryption", []),
    ("deflate", "DEFLATE compressor", [CORPUS]),
    ("unzip", "Extracting an archive (UNZIP)", [CORPUS, os.path.join(ROOT, "build", "bench-unzip")]),
    ("zip", "Packing a folder (ZIP)", [CORPUS, "--reps", "5"]),
]


def run(name, args):
    exe = os.path.join(BUILD, "bench_" + name)
    print(f"running {os.path.relpath(exe, ROOT)} ...", flush=True)
    p = subprocess.run([exe] + args, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, cwd=ROOT)
    out = p.stdout.decode("utf-8", "replace")
    if p.returncode != 0:
        raise SystemExit(f"bench_{name} failed:\n{out}")
    return out


def table_rows(text, first_cell):
    """Rows of a markdown table in `text` whose first cell matches first_cell."""
    rows = []
    for line in text.splitlines():
        cells = [c.strip() for c in line.strip().strip("|").split("|")]
        if len(cells) > 1 and re.fullmatch(first_cell, cells[0]):
            rows.append(cells)
    return rows


def parse(outputs):
    """The figures of each report: speed ratios (ours / peer, above 1 is
    faster) and size ratios (ours / peer, below 1 is smaller)."""
    speed, size, goals = [], [], []

    h = outputs["hash"]
    for m in re.finditer(r"^(.+?)\s+(\d+) MB/s\s+(openssl[^\d]*?)\s+(\d+) MB/s\s+ratio ([\d.]+)", h, re.M):
        label, ours, peer, theirs, ratio = m.groups()
        speed.append((f"{label.strip()} vs {peer.strip()}", float(ratio)))
    md5 = [r for l, r in speed if l.startswith("MD5 buffer")]
    sha = [r for l, r in speed if l.startswith("SHA-1 buffer (SHA")]
    if md5:
        goals.append(("MD5 throughput vs openssl", "≥ 0.9×", f"{md5[0]:.2f}×", md5[0] >= 0.9))
    if sha:
        goals.append(("SHA-1 throughput vs openssl", "≥ 0.6×", f"{sha[0]:.2f}×", sha[0] >= 0.6))

    c = outputs["crypt"]
    m = re.search(r"QCRYPT_makeKeys.*?ratio ([\d.]+)", c)
    if m:
        r = float(m.group(1))
        speed.append(("QCRYPT_makeKeys blocks vs openssl bf-ecb", r))
        goals.append(("QCRYPT_makeKeys block rate vs openssl Blowfish", "≥ 0.8×", f"{r:.2f}×", r >= 0.8))
    for m in re.finditer(r"^(QCRYPT_encrypt|QCRYPT_decrypt)\s+\d+ MB/s\s+ratio to copy ([\d.]+)", c, re.M):
        speed.append((f"{m.group(1)} vs buffered copy", float(m.group(2))))

    d = outputs["deflate"]
    by_level = d.split("Whole corpus by level", 1)[-1]
    for cells in table_rows(by_level, r"[1-8]"):
        level, size_ratio, speed_ratio = cells[0], float(cells[4]), float(cells[7])
        speed.append((f"DEFLATE level {level} vs zlib", speed_ratio))
        size.append((f"DEFLATE level {level} vs zlib", size_ratio))
        if level == "8":
            goals.append(("DEFLATE level 8 size vs zlib", "≤ 1.005", f"{size_ratio:.4f}", size_ratio <= 1.005))
            goals.append(("DEFLATE level 8 speed vs zlib", "≥ 1.0× (moonshot 1.3×)", f"{speed_ratio:.2f}×",
                          speed_ratio >= 1.0))

    u = outputs["unzip"]
    times = {m.group(1).strip(): float(m.group(2))
             for m in re.finditer(r"^(\S.*?)\s{2,}(\d+\.\d+)\s+\d+\.\d+\s+\d+\.\d+x", u, re.M)}
    ours = times.pop("UNZIP (libquillon)", None)
    one = times.pop("UNZIP, 1 thread", None)
    times.pop("zlib raw inflate alone", None)
    if ours:
        if one:
            speed.append(("UNZIP with threads vs UNZIP with one", one / ours))
            goals.append(("UNZIP time with threads vs one thread", "≤ 0.65×", f"{ours / one:.2f}×",
                          ours / one <= 0.65))
        for peer, t in times.items():
            speed.append((f"UNZIP vs {peer}", t / ours))
        if "bsdtar -xf" in times:
            r = ours / times["bsdtar -xf"]
            goals.append(("UNZIP time with threads vs bsdtar", "≤ 0.65×", f"{r:.2f}×", r <= 0.65))
        fastest = min(times.values())
        goals.append(("UNZIP vs the fastest extractor", "> 1.0×", f"{fastest / ours:.2f}×", fastest > ours))

    z = outputs["zip"]
    for cells in table_rows(z, r"quillon ZIP, 1 thread"):
        wall = 1 / float(cells[4])
        speed.append(("ZIP with threads vs ZIP with one (wall)", 1 / wall))
        goals.append(("ZIP time with threads vs one thread", "≤ 0.6×", f"{wall:.2f}×", wall <= 0.6))
    m = re.search(r"archives (byte-identical|DIFFERENT)", z)
    if m:
        goals.append(("ZIP archive with threads vs one thread", "byte-identical", m.group(1),
                      m.group(1) == "byte-identical"))
    for cells in table_rows(z, r"zipfile.*|7z.*"):
        peer, wall_ratio, cpu_ratio, size_ratio = cells[0], float(cells[4]), float(cells[5]), 1 / float(cells[6])
        speed.append((f"ZIP vs {peer} (wall)", wall_ratio))
        speed.append((f"ZIP vs {peer} (processor)", cpu_ratio))
        size.append((f"ZIP archive vs {peer}", size_ratio))
        if peer.startswith("zipfile"):
            goals.append(("ZIP time with threads vs Python zipfile level 8", "≤ 0.6×", f"{1 / wall_ratio:.2f}×",
                          1 / wall_ratio <= 0.6))
            goals.append(("ZIP packing (processor time) vs Python zipfile level 8", "> 1.0×", f"{cpu_ratio:.2f}×",
                          cpu_ratio > 1.0))
            goals.append(("ZIP archive size vs zipfile level 8", "≤ 1.005", f"{size_ratio:.4f}", size_ratio <= 1.005))
    m = re.search(r"peak resident memory ([\d.]+) MiB", z)
    if m:
        mib = float(m.group(1))
        goals.append(("peak memory packing a 1 GiB file (default threads)", "< 16 MiB + in-flight budget",
                      f"{mib:.1f} MiB", mib < 16 + 64))
    m = re.search(r"random 20 MiB files with ZIP: peak resident memory ([\d.]+) MiB with 8 threads", z)
    if m:
        mib = float(m.group(1))
        goals.append(("peak memory packing 24 random 20 MiB files, 8 threads", "< 16 MiB + in-flight budget",
                      f"{mib:.1f} MiB", mib < 16 + 64))
    return speed, size, goals


def plot(speed, size, path):
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    fig, (a, b) = plt.subplots(1, 2, figsize=(13, 0.32 * len(speed) + 1.8),
                               gridspec_kw={"width_ratios": [3, 2]})
    labels = [l for l, _ in speed][::-1]
    values = [v for _, v in speed][::-1]
    colours = ["#2a7f3f" if v >= 1 else "#b5532a" for v in values]
    a.barh(labels, values, color=colours)
    a.axvline(1.0, color="black", linewidth=0.8)
    a.set_xlabel("speed ratio: libquillon / peer (right of 1 = faster)")
    a.set_title("Speed against peers measured in the same run")
    for y, v in enumerate(values):
        a.text(v, y, f" {v:.2f}", va="center", fontsize=8)
    labels = [l for l, _ in size][::-1]
    values = [v for _, v in size][::-1]
    b.barh(labels, values, color="#3f5f9f")
    b.axvline(1.0, color="black", linewidth=0.8)
    b.set_xlim(min(values + [1.0]) - 0.01, max(values + [1.0]) + 0.015)
    b.set_xlabel("size: libquillon / peer (left of 1 = smaller)")
    b.set_title("Compressed size")
    for y, v in enumerate(values):
        b.text(v, y, f" {v:.4f}", va="center", fontsize=8)
    fig.tight_layout()
    fig.savefig(path, dpi=110)


def cpu_name():
    try:
        with open("/proc/cpuinfo") as f:
            for line in f:
                if line.startswith("model name"):
                    return line.split(":", 1)[1].strip()
    except OSError:
        pass
    return platform.processor() or "unknown processor"


def main():
    if not os.path.isdir(CORPUS):
        raise SystemExit("no corpus at build/corpus: run ./dev bench")
    outputs = {name: run(name, args) for name, _, args in BENCHMARKS}
    speed, size, goals = parse(outputs)
    os.makedirs(os.path.join(DOCS, "img"), exist_ok=True)
    plot(speed, size, os.path.join(DOCS, "img", "benchmarks.png"))

    lines = [
        "# Benchmarks",
        "",
        f"Written by `./dev bench` on {datetime.date.today().isoformat()}: {os.cpu_count()} processors "
        f"({cpu_name()}), Linux build. Each figure is a ratio against a peer measured in the same run; "
        "absolute times vary from machine to machine and from run to run.",
        "",
        "![speed and size against the peers](img/benchmarks.png)",
        "",
        "## Goals",
        "",
        "| measure | goal | measured | met |",
        "|---|---|---|---|",
    ]
    lines += [f"| {what} | {goal} | {got} | {'yes' if ok else 'no'} |" for what, goal, got, ok in goals]
    lines += ["", "`QCRYPT_encrypt` and `QCRYPT_decrypt` read and write single bytes through the runtime's "
              "buffered streams, as their file formats require; their ratio to a plain buffered copy shows that cost.",
              ""]
    for name, title, args in BENCHMARKS:
        shown = " ".join(["build/linux/bench_" + name] + [os.path.relpath(a, ROOT) for a in args])
        lines += [f"## {title}", "", f"`{shown}`", "", "```", outputs[name].rstrip(), "```", ""]
    with open(os.path.join(DOCS, "benchmarks.md"), "w") as f:
        f.write("\n".join(lines))
    print("wrote docs/benchmarks.md and docs/img/benchmarks.png")
    for what, goal, got, ok in goals:
        print(f"  {'met ' if ok else 'MISS'}  {what}: {got} (goal {goal})")


if __name__ == "__main__":
    sys.exit(main())
