// Packs the common corpus folder with the ZIP export (with its default
// threads and with QUILLON_THREADS=1), with Python's zipfile (deflate,
// compresslevel 8) and with 7z (-tzip -mx=5, one thread and its own
// threads), in the same run, and prints times, archive sizes and their
// ratios. Then packs a 1 GiB file with ZIP under /usr/bin/time to show the
// peak memory.
//
//   bench_zip [CORPUS_DIR] [--reps N] [--no-big]
//
// CORPUS_DIR defaults to $QUILLON_CORPUS, else build/corpus in the source
// tree. Each packer runs as a process of its own (ours as this program with
// --export, so that the names ZIP prints go to the null device); times are
// taken with /usr/bin/time, wall-clock and processor seconds, each the best of
// N runs (default 3). Peers' processor time includes their interpreter's
// start (about 0.03 s for Python).
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/dir.h"
#include "platform/file.h"
#include "quillon.h"

namespace {

struct Times {
  double wall = 0, cpu = 0;
};

// Runs a command under /usr/bin/time: its wall-clock and processor seconds
// (user + system, the command's children included).
Times run_timed(const std::string& command, const std::string& report) {
  const std::string full = "/usr/bin/time -f '%e %U %S' -o '" + report + "' sh -c \"" + command + "\"";
  const int status = std::system(full.c_str());
  if (status != 0) {
    std::fprintf(stderr, "failed (%d): %s\n", status, command.c_str());
    std::exit(1);
  }
  std::ifstream r(report);
  double user = 0, sys = 0;
  Times t;
  r >> t.wall >> user >> sys;
  t.cpu = user + sys;
  return t;
}

long long size_of(const std::string& path) {
  std::ifstream f(path, std::ios::binary | std::ios::ate);
  return f ? static_cast<long long>(f.tellg()) : -1;
}

struct Peer {
  const char* name;
  std::string command;
  std::string archive;
  Times best{1e30, 1e30};
  long long size = 0;
};

// Child mode: ZIP(archive, ".") run from inside folder.
int export_mode(const char* archive, const char* folder) {
  if (qp::change_directory(folder) != 0) return 2;
  ZIP(archive, ".");
  return size_of(archive) > 22 ? 0 : 3;
}

// A 1 GiB file of text-like data, written quickly: a 4 KiB period, so the
// compressor meets long matches and the run takes seconds, not minutes.
[[maybe_unused]] bool write_big_file(const std::string& path) {
  std::string block;
  while (block.size() < 4096) block += "peak memory of packing one large file " + std::to_string(block.size()) + "\n";
  block.resize(4096);
  std::string chunk;
  for (int i = 0; i < 256; ++i) chunk += block;
  std::ofstream f(path, std::ios::binary);
  for (int i = 0; i < 1024; ++i) f.write(chunk.data(), static_cast<std::streamsize>(chunk.size()));
  return static_cast<bool>(f);
}

// `count` files of `size` random bytes each: nothing to compress, so each
// item's data takes nearly its whole reservation.
[[maybe_unused]] bool write_random_files(const std::string& folder, int count, size_t size) {
  uint64_t x = 0x9E3779B97F4A7C15ull;
  std::string bytes(size, '\0');
  for (int i = 0; i < count; ++i) {
    for (size_t j = 0; j + 8 <= size; j += 8) {
      x ^= x << 13;
      x ^= x >> 7;
      x ^= x << 17;
      std::memcpy(&bytes[j], &x, 8);
    }
    std::ofstream f(folder + "random" + std::to_string(i) + ".bin", std::ios::binary);
    f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!f) return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
#if defined(_WIN32)
  (void)argv;
  if (argc != 4) {
    std::printf("bench_zip runs its peers through a POSIX shell: run the Linux build\n");
    return 0;
  }
#endif
  if (argc == 4 && std::strcmp(argv[1], "--export") == 0) return export_mode(argv[2], argv[3]);

  std::string corpus;
  int reps = 3;
  bool big = true;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--reps") == 0 && i + 1 < argc) {
      reps = std::atoi(argv[++i]);
    } else if (std::strcmp(argv[i], "--no-big") == 0) {
      big = false;
    } else {
      corpus = argv[i];
    }
  }
  if (corpus.empty()) {
    const char* env = std::getenv("QUILLON_CORPUS");
    corpus = env && *env ? env : QUILLON_SOURCE_DIR "/build/corpus";
  }
  if (corpus.back() != '/') corpus += '/';
  if (size_of(corpus + "manual.txt") < 0) {
    std::fprintf(stderr, "missing %s: make the corpus with make_corpus.py first\n", corpus.c_str());
    return 1;
  }
  const std::string self = argv[0];
  const std::string tmp = qp::make_temp_directory("bench-zip-");
  if (tmp.empty()) return 1;

  std::vector<Peer> peers(5);
  peers[0].name = "quillon ZIP";
  peers[0].archive = tmp + "ours.zip";
  peers[0].command = "env -u QUILLON_THREADS '" + self + "' --export '" + peers[0].archive + "' '" + corpus +
                     "' >/dev/null";
  peers[3].name = "quillon ZIP, 1 thread";
  peers[3].archive = tmp + "ours1.zip";
  peers[3].command = "QUILLON_THREADS=1 '" + self + "' --export '" + peers[3].archive + "' '" + corpus +
                     "' >/dev/null";
  peers[4].name = "7z -mx=5";
  peers[4].archive = tmp + "7zmt.zip";
  peers[4].command = "cd '" + corpus + "' && 7z a -tzip -mx=5 '" + peers[4].archive + "' . >/dev/null";
  peers[1].name = "zipfile, level 8";
  peers[1].archive = tmp + "zipfile.zip";
  const std::string script = tmp + "pack.py";
  {
    std::ofstream py(script);
    py << "import os, sys, zipfile\n"
          "os.chdir(sys.argv[2])\n"
          "with zipfile.ZipFile(sys.argv[1], 'w', zipfile.ZIP_DEFLATED, compresslevel=8) as z:\n"
          "    for n in os.listdir('.'):\n"
          "        if os.path.isfile(n):\n"
          "            z.write(n)\n";
  }
  peers[1].command = "/usr/bin/python3 '" + script + "' '" + peers[1].archive + "' '" + corpus + "'";
  peers[2].name = "7z -mx=5 -mmt=1";
  peers[2].archive = tmp + "7z.zip";
  peers[2].command = "cd '" + corpus + "' && 7z a -tzip -mx=5 -mmt=1 '" + peers[2].archive + "' . >/dev/null";

  const std::string report = tmp + "time.txt";
  bool identical = true;
  for (int r = 0; r < reps; ++r) {
    for (Peer& p : peers) {
      qp::delete_file(p.archive.c_str());
      const Times t = run_timed(p.command, report);
      if (t.wall < p.best.wall) p.best.wall = t.wall;
      if (t.cpu < p.best.cpu) p.best.cpu = t.cpu;
      p.size = size_of(p.archive);
    }
    // The threads must not change a byte of the archive. The first round
    // may move the files' access times (a first read after a write), which
    // the archive records, so it is compared only when it is the one round.
    if (r == 0 && reps > 1) continue;
    std::ifstream a(peers[0].archive, std::ios::binary), b(peers[3].archive, std::ios::binary);
    const std::string threaded((std::istreambuf_iterator<char>(a)), std::istreambuf_iterator<char>());
    const std::string single((std::istreambuf_iterator<char>(b)), std::istreambuf_iterator<char>());
    identical = identical && threaded == single;
  }
  long long input = 0;
  if (qp::Listing* l = qp::open_listing(corpus.c_str())) {
    while (const char* n = qp::next_entry(l))
      if (n[0] != '.') input += size_of(corpus + n);
    qp::close_listing(l);
  }

  const Peer& ours = peers[0];
  std::printf("Packing the corpus folder (%lld bytes), best of %d\n\n", input, reps);
  std::printf("| packer                 | wall s | cpu s |  archive bytes | wall / ours | cpu / ours |"
              " size / ours |\n");
  std::printf("|------------------------|--------|-------|----------------|-------------|------------|"
              "-------------|\n");
  for (const Peer& p : peers)
    std::printf("| %-22s | %6.2f | %5.2f | %14lld | %11.3f | %10.3f | %11.4f |\n", p.name, p.best.wall, p.best.cpu,
                p.size, p.best.wall / ours.best.wall, p.best.cpu / ours.best.cpu, double(p.size) / double(ours.size));
  for (size_t i = 1; i < peers.size(); ++i)
    if (i != 3)
      std::printf("\nours vs %s: %.2fx the speed (wall), %.2fx (processor), archive %+.2f %%", peers[i].name,
                  peers[i].best.wall / ours.best.wall, peers[i].best.cpu / ours.best.cpu,
                  100.0 * (double(ours.size) / double(peers[i].size) - 1.0));
  std::printf("\n\nZIP with its default threads vs QUILLON_THREADS=1: %.3fx the time (wall), archives %s\n",
              ours.best.wall / peers[3].best.wall, identical ? "byte-identical" : "DIFFERENT");
  for (const Peer& p : peers) qp::delete_file(p.archive.c_str());

  if (big) {
#if defined(_WIN32)
    std::printf("\n(peak memory is measured on Linux only)\n");
#else
    const std::string folder = tmp + "big/";
    qp::make_directory(folder.c_str());
    const std::string file = folder + "one-gib.txt", archive = tmp + "big.zip", mem = tmp + "mem.txt";
    if (!write_big_file(file)) {
      std::fprintf(stderr, "cannot write %s\n", file.c_str());
    } else {
      const Times t = run_timed("/usr/bin/time -f %M -o '" + mem + "' env -u QUILLON_THREADS '" + self +
                                    "' --export '" + archive + "' '" + folder + "' >/dev/null",
                                report);
      std::ifstream r(mem);
      long kib = 0;
      r >> kib;
      std::printf("\nPacking a 1 GiB file with ZIP (default threads): %.2f s, archive %lld bytes, "
                  "peak resident memory %.1f MiB\n",
                  t.wall, size_of(archive), kib / 1024.0);
    }
    qp::delete_file(file.c_str());
    qp::delete_file(archive.c_str());

    // Many large files that do not compress, with 8 threads: the items in
    // flight stay within the budget (64 MiB), whatever the threads hold.
    constexpr int kFiles = 24;
    if (!write_random_files(folder, kFiles, 20u << 20)) {
      std::fprintf(stderr, "cannot write the random files in %s\n", folder.c_str());
    } else {
      double peak[2] = {0, 0};
      const char* counts[2] = {"1", "8"};
      for (int k = 0; k < 2; ++k) {
        run_timed("/usr/bin/time -f %M -o '" + mem + "' env QUILLON_THREADS=" + counts[k] + " '" + self +
                      "' --export '" + archive + "' '" + folder + "' >/dev/null",
                  report);
        std::ifstream r(mem);
        long kib = 0;
        r >> kib;
        peak[k] = kib / 1024.0;
        qp::delete_file(archive.c_str());
      }
      std::printf("\nPacking %d random 20 MiB files with ZIP: peak resident memory %.1f MiB with 8 threads, "
                  "%.1f MiB with one (in-flight budget 64 MiB)\n",
                  kFiles, peak[1], peak[0]);
    }
    for (int i = 0; i < kFiles; ++i) qp::delete_file((folder + "random" + std::to_string(i) + ".bin").c_str());
    qp::delete_file(mem.c_str());
    qp::remove_directory(folder.substr(0, folder.size() - 1).c_str());
#endif
  }
  qp::delete_file(script.c_str());
  qp::delete_file(report.c_str());
  qp::remove_directory(tmp.substr(0, tmp.size() - 1).c_str());
  return 0;
}
