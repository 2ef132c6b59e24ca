// Extraction speed: UNZIP (through the library, in this process, with its
// default threads and with QUILLON_THREADS=1) against
// `unzip -o -q`, `7z x`, `bsdtar -xf` and Python's zipfile.extractall (as
// subprocesses) on one archive of the common corpus, packed by Python's
// zipfile at compresslevel 8. Best of 9 runs, each into a fresh folder.
// zlib's raw inflate of the same entries into memory is the ceiling.
//
// Usage: bench_unzip [CORPUS_DIR [WORK_DIR]]   (defaults: build/corpus, build/bench-unzip)
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "quillon.h"
#include "zip/format/records.h"

namespace fs = std::filesystem;

namespace {

// Runs are short; many of them let the best one of each candidate fall in a
// quiet moment of a shared machine.
constexpr int kRuns = 9;

// A command run through the shell; true when it exits with 0.
std::function<bool()> shell(const std::string& command) {
  return [command] { return std::system(command.c_str()) == 0; };
}

std::string read_all(const fs::path& p) {
  std::ifstream f(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

std::string quote(const fs::path& p) { return "'" + p.string() + "'"; }

// Inflates every deflated entry of the archive into memory with zlib alone.
// Returns the bytes produced, 0 on any surprise.
size_t inflate_all(const std::string& zip) {
  using quillon::get16;
  using quillon::get32;
  const unsigned char* z = reinterpret_cast<const unsigned char*>(zip.data());
  const size_t end = zip.rfind("PK\x05\x06");
  if (end == std::string::npos) return 0;
  const uint32_t count = get16(z + end + 10);
  size_t at = get32(z + end + 16);
  size_t produced = 0;
  std::vector<unsigned char> out(256 * 1024);  // large enough to keep zlib's window copies rare
  for (uint32_t i = 0; i < count; ++i) {
    const uint32_t method = get16(z + at + 10), csize = get32(z + at + 20);
    const uint32_t local = get32(z + at + 42);
    const size_t data = local + 30 + get16(z + local + 26) + get16(z + local + 28);
    at += 46 + get16(z + at + 28) + get16(z + at + 30) + get16(z + at + 32);
    if (method != 8) continue;
    z_stream s{};
    inflateInit2(&s, -15);
    s.next_in = const_cast<Bytef*>(z + data);
    s.avail_in = csize;
    int r;
    do {
      s.next_out = out.data();
      s.avail_out = static_cast<uInt>(out.size());
      r = inflate(&s, Z_SYNC_FLUSH);
    } while (r == Z_OK);
    produced += s.total_out;
    inflateEnd(&s);
    if (r != Z_STREAM_END) return 0;
  }
  return produced;
}

// Sets QUILLON_THREADS, or with null removes it.
void set_threads(const char* value) {
#if defined(_WIN32)
  _putenv_s("QUILLON_THREADS", value ? value : "");
#else
  if (value) {
    setenv("QUILLON_THREADS", value, 1);
  } else {
    unsetenv("QUILLON_THREADS");
  }
#endif
}

}  // namespace

int main(int argc, char** argv) {
  const fs::path corpus = fs::absolute(argc > 1 ? argv[1] : "build/corpus");
  const fs::path work = fs::absolute(argc > 2 ? argv[2] : "build/bench-unzip");
  if (!fs::is_directory(corpus)) {
    std::fprintf(stderr, "no corpus at %s: run /usr/bin/python3 make_corpus.py %s first\n", corpus.string().c_str(),
                 corpus.string().c_str());
    return 2;
  }
  fs::remove_all(work);
  fs::create_directories(work);
  const fs::path archive = work / "corpus.zip";
  const std::string pack = "/usr/bin/python3 -c \"import os, sys, zipfile\n"
                           "src, dst = sys.argv[1], sys.argv[2]\n"
                           "with zipfile.ZipFile(dst, 'w', zipfile.ZIP_DEFLATED, compresslevel=8) as z:\n"
                           "    for n in sorted(os.listdir(src)): z.write(os.path.join(src, n), n)\n\" " +
                           quote(corpus) + " " + quote(archive);
  if (std::system(pack.c_str()) != 0) {
    std::fprintf(stderr, "packing the corpus failed\n");
    return 1;
  }
  const std::string zip = read_all(archive);
  uintmax_t total = 0;
  std::vector<fs::path> files;
  for (const auto& e : fs::directory_iterator(corpus))
    if (e.is_regular_file()) {
      files.push_back(e.path());
      total += e.file_size();
    }
  std::printf("archive: %zu files, %.1f MB -> %.1f MB (Python zipfile, level 8)\n", files.size(), total / 1e6,
              zip.size() / 1e6);

  const fs::path out = work / "out";
  auto fresh = [&] {
    fs::remove_all(out);
    fs::create_directories(out);
  };
  // The candidates take turns, round after round, so that a burst of load
  // on the machine does not fall on one of them alone; each keeps its best.
  struct Candidate {
    Candidate(std::string n, std::function<bool()> r, bool f) : name(std::move(n)), run(std::move(r)), fresh_folder(f) {}
    std::string name;
    std::function<bool()> run;
    bool fresh_folder;
    double best = 1e30;
    bool ok = true;
  };
  size_t inflated = 0;
  // UNZIP with QUILLON_THREADS set to `threads`, or unset for the default.
  auto unzip_with = [&](const char* threads) {
    set_threads(threads);
    const bool ok = UNZIP(archive.string().c_str(), out.string().c_str()) == 1.0;
    set_threads(nullptr);
    return ok;
  };
  std::vector<Candidate> candidates = {
      {"UNZIP (libquillon)", [&] { return unzip_with(nullptr); }, true},
      {"UNZIP, 1 thread", [&] { return unzip_with("1"); }, true},
      {"unzip -o -q", shell("unzip -o -q " + quote(archive) + " -d " + quote(out)), true},
      {"7z x", shell("7z x -y -bd -o" + quote(out) + " " + quote(archive) + " >/dev/null"), true},
      {"bsdtar -xf", shell("bsdtar -xf " + quote(archive) + " -C " + quote(out)), true},
      {"python zipfile.extractall", shell("/usr/bin/python3 -c \"import sys, zipfile; "
                                          "zipfile.ZipFile(sys.argv[1]).extractall(sys.argv[2])\" " +
                                          quote(archive) + " " + quote(out)),
       true},
      {"zlib raw inflate alone", [&] { return (inflated = inflate_all(zip)) > 0; }, false},
  };
  for (int round = 0; round < kRuns; ++round) {
    for (Candidate& c : candidates) {
      if (c.fresh_folder) fresh();
      const auto start = std::chrono::steady_clock::now();
      c.ok = c.run() && c.ok;
      c.best = std::min(c.best, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
      // The extraction must be exact before its speed means anything.
      if (round == 0 && c.name.rfind("UNZIP", 0) == 0)
        for (const fs::path& f : files) c.ok = c.ok && read_all(out / f.filename()) == read_all(f);
    }
  }
  const double ours = candidates[0].best;
  double fastest_peer = 1e30;
  for (size_t i = 2; i + 1 < candidates.size(); ++i)
    if (candidates[i].ok) fastest_peer = std::min(fastest_peer, candidates[i].best);
  const double ceiling = candidates.back().best;

  std::printf("\n%-28s %10s %10s %12s\n", "extract (best of 9)", "seconds", "MB/s", "vs UNZIP");
  for (size_t i = 0; i + 1 < candidates.size(); ++i) {
    const Candidate& c = candidates[i];
    std::printf("%-28s %10.4f %10.1f %11.2fx%s\n", c.name.c_str(), c.best, total / c.best / 1e6, c.best / ours,
                c.ok ? "" : "  (FAILED)");
  }
  std::printf("%-28s %10.4f %10.1f %11.2fx  (deflated entries into memory, no CRC, no files)\n",
              "zlib raw inflate alone", ceiling, inflated / ceiling / 1e6, ceiling / ours);
  std::printf("\nUNZIP vs the fastest peer: %.2fx faster; inflate alone takes %.0f%% of UNZIP's time\n",
              fastest_peer / ours, 100.0 * ceiling / ours);
  std::printf("UNZIP with its default threads vs QUILLON_THREADS=1: %.3fx the time\n", ours / candidates[1].best);
  fs::remove_all(out);
  return candidates[0].ok ? 0 : 1;
}
